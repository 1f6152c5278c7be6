// Files through handles, over POSIX descriptors. A handle is the descriptor
// plus one, so that neither null (no file) nor INVALID_HANDLE_VALUE (failure)
// can name an open file. Sharing modes are accepted and not enforced: nothing
// in the system relies on them.
#pragma once

#include "platform/win_types.h"

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
// Reads until count bytes have arrived or the file ends.
BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* read, void* overlapped);
// Writes all count bytes; on failure *written holds what did reach the file.
BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* written, void* overlapped);
DWORD GetFileSize(HANDLE file, DWORD* high);
BOOL CloseHandle(HANDLE object);
BOOL DeleteFileA(LPCSTR name);
BOOL MoveFileExA(LPCSTR existing, LPCSTR replacement, DWORD flags);
// Puts replacement in the place of replaced, keeping replaced's permission
// bits; fails when replaced does not exist.
BOOL ReplaceFileA(LPCSTR replaced, LPCSTR replacement, LPCSTR backup, DWORD flags, void* exclude,
                  void* reserved);
// Directory 0x10; anything that is neither a directory nor a regular file
// (device, pipe, socket) 0x40; a regular file: read-only 0x01 when the owner
// may not write it, hidden 0x02 when its name starts with a dot, otherwise
// normal 0x80. Missing: INVALID_FILE_ATTRIBUTES.
DWORD GetFileAttributesA(LPCSTR name);

// The descriptor behind a handle, -1 for null or invalid.
int descriptorOf(HANDLE file);
