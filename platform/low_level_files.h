// The run-time library's low-level files: small-integer descriptors opened
// with the run-time library's own flag and mode numbers, which are translated
// here, so that callers written against that library pass them unchanged.
#pragma once

namespace crt {

// Open flags, in the run-time library's numbering.
constexpr int _O_RDONLY = 0x0000;
constexpr int _O_WRONLY = 0x0001;
constexpr int _O_RDWR = 0x0002;
constexpr int _O_APPEND = 0x0008;
constexpr int _O_CREAT = 0x0100;
constexpr int _O_TRUNC = 0x0200;
constexpr int _O_EXCL = 0x0400;
constexpr int _O_TEXT = 0x4000;    // no translation happens here either way
constexpr int _O_BINARY = 0x8000;
// Permission modes for a file that _open creates.
constexpr int _S_IREAD = 0x0100;
constexpr int _S_IWRITE = 0x0080;

// Each returns -1 and sets errno on failure, like the originals. _open, _read
// and _write can be made to fail by fault injection (Open, Read, Write).
int _open(const char* name, int flags, int mode = 0);
// Reads until count bytes arrived or the file ended.
int _read(int fd, void* buffer, unsigned count);
// Writes all count bytes, or returns what reached the file before an error
// (-1 when nothing did).
int _write(int fd, const void* buffer, unsigned count);
int _close(int fd);
long _lseek(int fd, long offset, int origin);
int remove(const char* name);

// A fresh name that no file has yet: in the directory named by TMP when it
// exists, else in dir when that exists, else in the system's temporary
// directory; the file name begins with prefix. The name is allocated with
// crt::malloc and released with crt::free; null on failure (fault kind
// TempName).
char* _tempnam(const char* dir, const char* prefix);

}  // namespace crt
