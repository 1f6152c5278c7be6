// Whole-file reading and writing through platform file handles.
//
// Reads and writes through these functions are buffered, so a caller may read
// or write a byte at a time without a system call per byte. Counts of 4096
// bytes or more go straight to the platform after what was buffered.
//
// An output file never destroys the file it replaces until it is whole:
// createForWriting writes to a new file beside the target, and closeFile puts
// it in place (keeping the old file's permission bits) only when every write
// succeeded. Otherwise the new file is removed and the old one stays as it
// was. A target that exists and is not a regular file (a device, a pipe) is
// written directly.
//
// The first failed write on an output file shows "Cannot write file" once;
// every later write on that file does nothing and returns -1, and closeFile
// returns 0.
#pragma once

#include <cstdint>

#include "platform/win_types.h"

// Invalid handle (after tracing "File not found: " and the path) on failure.
HANDLE openForReading(const char* path);
// As openForReading, storing the size; 0 when the open fails.
HANDLE openWithSize(const char* path, std::int32_t* size);
// The low 32 bits of the file's size.
std::uint32_t fileSize(HANDLE file);
// Invalid handle on failure, traced as "Cannot create file: " and the path
// when trace is nonzero.
HANDLE createForWriting(const char* path, int trace);
// Closes the file. For an output file: 1 when it was written whole and is in
// place, 0 when a write failed (the target is then untouched). For an input
// file: 1. Null and the invalid handle: 0, nothing done.
int closeFile(HANDLE file);
// Closes an output file without putting it in place: the target stays as it
// was and the new file is removed.
void discardFile(HANDLE file);

// Bytes read (0 at the end), or -1 after "Cannot read file".
std::int32_t readBytes(HANDLE file, void* buffer, std::int32_t count);
// count, or -1 after "Cannot write file" (shown once per file).
std::int32_t writeBytes(HANDLE file, const void* buffer, std::int32_t count);
// The value's four bytes as they lie in memory: least significant first.
std::int32_t writeLong(HANDLE file, std::uint32_t value);
std::int32_t writeByte(HANDLE file, int value);

// The whole file in one block of size + 1 bytes, the last one 0; free it with
// freeBlock. Null when the file cannot be opened (size 0) or the block cannot
// be had. A file that shrinks while it is read yields the bytes that arrived.
std::uint8_t* loadWholeFile(const char* path, std::int32_t* size);

std::uint32_t swapBytes32(std::uint32_t value);
