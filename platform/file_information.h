// What the platform tells about an open file, and its clock conversions.
#pragma once

#include "platform/win_types.h"

// 100-nanosecond intervals since 1 January 1601 (UTC unless converted).
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};

// Attributes as GetFileAttributesA maps them (the name is not known here, so
// a handle never reports hidden); the creation time is the status change
// time, the nearest that POSIX keeps; volume and index are device and inode.
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information);
// Shifts by the local zone's offset from UTC at that instant, daylight saving
// included, so that the result reads as the wall clock did then.
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
// Date: bits 9-15 year since 1980, 5-8 month, 0-4 day; time: bits 11-15
// hours, 5-10 minutes, 0-4 seconds halved. Fails outside 1980..2107.
BOOL FileTimeToDosDateTime(const FILETIME* time, WORD* dosDate, WORD* dosTime);
