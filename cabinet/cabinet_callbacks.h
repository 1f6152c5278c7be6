// The callbacks that the cabinet library calls for memory and files: the
// run-time library's heap, its low-level descriptors and its temporary names,
// and the platform's file information for the sources' dates and attributes.
// They keep no state; none reads the client context.
#pragma once

#include "platform/cabinet_library/fci.h"

// File placed and status: one function, which ignores its arguments.
int cabNotify(PCCAB pccab, char* pszFile, long cbFile, BOOL fContinuation, void* pv);
long cabNotify(UINT typeStatus, ULONG cb1, ULONG cb2, void* pv);

void* cabAlloc(ULONG cb);
void cabFree(void* memory);
// Flags and mode pass through unchanged (the run-time library's numbering).
INT_PTR cabOpen(char* pszFile, int oflag, int pmode, int* err, void* pv);
UINT cabRead(INT_PTR hf, void* memory, UINT cb, int* err, void* pv);
UINT cabWrite(INT_PTR hf, void* memory, UINT cb, int* err, void* pv);
int cabClose(INT_PTR hf, int* err, void* pv);
long cabSeek(INT_PTR hf, long dist, int seektype, int* err, void* pv);
int cabDelete(char* pszFile, int* err, void* pv);
// A fresh name from the run-time library (prefix "xx", in TMP when that
// directory exists); 0 when there is none or it does not fit the buffer.
BOOL cabGetTempFile(char* pszTempName, int cbTempName, void* pv);
BOOL cabGetNextCabinet(PCCAB pccab, ULONG cbPrevCab, void* pv);
// Opens a source file for reading and tells its local last-write date and
// time in DOS form and its attributes masked with 0x27. With this platform's
// attribute mapping a plain writable file yields 0, one its owner may not
// write 0x01, a name starting with a dot 0x02; system and archive never occur.
INT_PTR cabGetOpenInfo(char* pszName, USHORT* pdate, USHORT* ptime, USHORT* pattribs, int* err, void* pv);

// The two notifications as the library's pointer types, for FCICreate and
// for the calls that take a status callback.
inline constexpr PFNFCIFILEPLACED cabFilePlaced = static_cast<int (*)(PCCAB, char*, long, BOOL, void*)>(&cabNotify);
inline constexpr PFNFCISTATUS cabStatus = static_cast<long (*)(UINT, ULONG, ULONG, void*)>(&cabNotify);
