// The File Compression Interface: records, callback types and entry points
// with the published argument lists. The library behind it (libCABINET.so)
// does no memory management and no file access of its own: every block and
// every file operation goes through the callbacks given to FCICreate and to
// each call.
//
// What it writes: cabinet format 1.3, one cabinet (no spanning: a cabinet
// that would exceed CCAB::cb fails with FCIERR_CAB_FORMAT_LIMIT), one CFFOLDER
// per folder, MSZIP blocks of 32768 bytes with the history carried from block
// to block, checksums filled in. A file lies wholly in one folder; a folder
// that could not take the next file within the format's 65535 blocks is
// closed and a new one begun. FCIFlushFolder with nothing added since the
// last folder writes no folder. FCIFlushCabinet with no file at all writes a
// cabinet of just its 36-byte header (no folders, no files), which the format
// allows: gcab lists it as empty and 7-Zip as 0 files, while cabextract
// refuses it ("no valid cabinets found"). After a failed call the context
// only reports that failure again; FCIDestroy releases it. On any failure a
// partly written cabinet is deleted through the delete callback.
#pragma once

#include <cstdint>

extern "C" {

using BOOL = int;
using UINT = unsigned int;
using USHORT = std::uint16_t;
using ULONG = std::uint32_t;
using INT_PTR = std::intptr_t;
using TCOMP = USHORT;
using HFCI = void*;

constexpr int CB_MAX_DISK_NAME = 256;
constexpr int CB_MAX_CABINET_NAME = 256;
constexpr int CB_MAX_CAB_PATH = 256;
constexpr int CB_MAX_FILENAME = 256;

// Error codes in ERF::erfOper.
enum FCIERROR {
    FCIERR_NONE = 0,
    FCIERR_OPEN_SRC = 1,          // a source file could not be opened
    FCIERR_READ_SRC = 2,          // reading a source file failed
    FCIERR_ALLOC_FAIL = 3,        // the allocation callback returned null
    FCIERR_TEMP_FILE = 4,         // a temporary file could not be named, made, written or read
    FCIERR_BAD_COMPR_TYPE = 5,    // neither no compression nor MSZIP
    FCIERR_CAB_FILE = 6,          // the cabinet could not be created or written
    FCIERR_USER_ABORT = 7,        // a callback asked to stop
    FCIERR_MCI_FAIL = 8,          // the compressor failed
    FCIERR_CAB_FORMAT_LIMIT = 9,  // a file, folder or cabinet would exceed the format's limits
};

struct ERF {
    int erfOper;  // FCIERROR
    int erfType;  // the error number a callback reported, 0 when none
    BOOL fError;
};
using PERF = ERF*;

struct CCAB {
    ULONG cb;              // largest cabinet size
    ULONG cbFolderThresh;  // compressed folder size at which a new folder begins
    UINT cbReserveCFHeader;
    UINT cbReserveCFFolder;
    UINT cbReserveCFData;
    int iCab;
    int iDisk;
    int fFailOnIncompressible;
    USHORT setID;
    char szDisk[CB_MAX_DISK_NAME];
    char szCab[CB_MAX_CABINET_NAME];
    char szCabPath[CB_MAX_CAB_PATH];  // put in front of szCab as it is, no separator added
};
using PCCAB = CCAB*;

// Compression types.
constexpr TCOMP tcompMASK_TYPE = 0x000F;
constexpr TCOMP tcompTYPE_NONE = 0x0000;
constexpr TCOMP tcompTYPE_MSZIP = 0x0001;
constexpr TCOMP tcompTYPE_QUANTUM = 0x0002;
constexpr TCOMP tcompTYPE_LZX = 0x0003;

// Status kinds.
constexpr UINT statusFile = 0;     // a block was compressed: compressed, uncompressed size
constexpr UINT statusFolder = 1;   // a folder was completed: its size so far, its total size
constexpr UINT statusCabinet = 2;  // the cabinet is written: estimated, actual size

// Attribute bits in a file's entry.
constexpr USHORT _A_RDONLY = 0x01;
constexpr USHORT _A_HIDDEN = 0x02;
constexpr USHORT _A_SYSTEM = 0x04;
constexpr USHORT _A_ARCH = 0x20;
constexpr USHORT _A_EXEC = 0x40;
constexpr USHORT _A_NAME_IS_UTF = 0x80;

// The file callbacks take the run-time library's open flags and modes
// (_O_RDWR 0x0002, _O_CREAT 0x0100, _O_TRUNC 0x0200, _O_EXCL 0x0400,
// _O_BINARY 0x8000; _S_IREAD 0x0100, _S_IWRITE 0x0080) and report failure as
// -1 (open, close, seek, delete) or a count other than the one asked (read,
// write), with an error number in *err.
using PFNFCIFILEPLACED = int (*)(PCCAB pccab, char* pszFile, long cbFile, BOOL fContinuation, void* pv);
using PFNFCIALLOC = void* (*)(ULONG cb);
using PFNFCIFREE = void (*)(void* memory);
using PFNFCIOPEN = INT_PTR (*)(char* pszFile, int oflag, int pmode, int* err, void* pv);
using PFNFCIREAD = UINT (*)(INT_PTR hf, void* memory, UINT cb, int* err, void* pv);
using PFNFCIWRITE = UINT (*)(INT_PTR hf, void* memory, UINT cb, int* err, void* pv);
using PFNFCICLOSE = int (*)(INT_PTR hf, int* err, void* pv);
using PFNFCISEEK = long (*)(INT_PTR hf, long dist, int seektype, int* err, void* pv);
using PFNFCIDELETE = int (*)(char* pszFile, int* err, void* pv);
using PFNFCIGETTEMPFILE = BOOL (*)(char* pszTempName, int cbTempName, void* pv);
using PFNFCIGETNEXTCABINET = BOOL (*)(PCCAB pccab, ULONG cbPrevCab, void* pv);
using PFNFCISTATUS = long (*)(UINT typeStatus, ULONG cb1, ULONG cb2, void* pv);
using PFNFCIGETOPENINFO = INT_PTR (*)(char* pszName, USHORT* pdate, USHORT* ptime, USHORT* pattribs, int* err,
                                      void* pv);

HFCI FCICreate(PERF perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna, PFNFCIFREE pfnf, PFNFCIOPEN pfnopen,
               PFNFCIREAD pfnread, PFNFCIWRITE pfnwrite, PFNFCICLOSE pfnclose, PFNFCISEEK pfnseek,
               PFNFCIDELETE pfndelete, PFNFCIGETTEMPFILE pfnfcigtf, PCCAB pccab, void* pv);
BOOL FCIAddFile(HFCI hfci, char* pszSourceFile, char* pszFileName, BOOL fExecute, PFNFCIGETNEXTCABINET pfnfcignc,
                PFNFCISTATUS pfnfcis, PFNFCIGETOPENINFO pfnfcigoi, TCOMP typeCompress);
BOOL FCIFlushCabinet(HFCI hfci, BOOL fGetNextCab, PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis);
BOOL FCIFlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis);
BOOL FCIDestroy(HFCI hfci);

// The entry points' types, for binding them at run time.
using FCICreateFunction = decltype(&FCICreate);
using FCIAddFileFunction = decltype(&FCIAddFile);
using FCIFlushCabinetFunction = decltype(&FCIFlushCabinet);
using FCIFlushFolderFunction = decltype(&FCIFlushFolder);
using FCIDestroyFunction = decltype(&FCIDestroy);

}  // extern "C"
