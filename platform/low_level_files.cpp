#include "platform/low_level_files.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fault.h"
#include "platform/runtime.h"

namespace crt {
namespace {

int posixFlags(int flags) {
    int result = O_CLOEXEC;
    switch (flags & (_O_WRONLY | _O_RDWR)) {
        case _O_WRONLY: result |= O_WRONLY; break;
        case _O_RDWR: result |= O_RDWR; break;
        default: result |= O_RDONLY; break;
    }
    if (flags & _O_APPEND) result |= O_APPEND;
    if (flags & _O_CREAT) result |= O_CREAT;
    if (flags & _O_TRUNC) result |= O_TRUNC;
    if (flags & _O_EXCL) result |= O_EXCL;
    return result;
}

mode_t posixMode(int mode) {
    // The run-time library knows only "may read" and "may write"; the
    // process's umask still applies, as it does to every new file here.
    mode_t result = 0;
    if (mode & _S_IREAD) result |= S_IRUSR | S_IRGRP | S_IROTH;
    if (mode & _S_IWRITE) result |= S_IWUSR | S_IWGRP | S_IWOTH;
    return result;
}

bool isDirectory(const char* path) {
    struct stat info;
    return path != nullptr && *path != '\0' && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

std::atomic<unsigned long> tempCounter{0};

}  // namespace

int _open(const char* name, int flags, int mode) {
    if (name == nullptr) {
        errno = EINVAL;
        return -1;
    }
    if (fault::shouldFail(fault::Kind::Open)) {
        errno = EACCES;
        return -1;
    }
    int fd;
    do fd = ::open(name, posixFlags(flags), posixMode(mode));
    while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
        struct stat info;
        if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
            ::close(fd);
            errno = EISDIR;
            return -1;
        }
    }
    return fd;
}

int _read(int fd, void* buffer, unsigned count) {
    if (fault::shouldFail(fault::Kind::Read)) {
        errno = EIO;
        return -1;
    }
    auto* bytes = static_cast<char*>(buffer);
    unsigned done = 0;
    while (done < count) {
        ssize_t got = ::read(fd, bytes + done, count - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return done > 0 ? static_cast<int>(done) : -1;
        if (got == 0) break;
        done += static_cast<unsigned>(got);
    }
    return static_cast<int>(done);
}

int _write(int fd, const void* buffer, unsigned count) {
    if (fault::shouldFail(fault::Kind::Write)) {
        errno = ENOSPC;
        return -1;
    }
    auto* bytes = static_cast<const char*>(buffer);
    unsigned done = 0;
    while (done < count) {
        ssize_t put = ::write(fd, bytes + done, count - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return done > 0 ? static_cast<int>(done) : -1;
        done += static_cast<unsigned>(put);
    }
    return static_cast<int>(done);
}

int _close(int fd) { return ::close(fd) == 0 ? 0 : -1; }

long _lseek(int fd, long offset, int origin) {
    off_t at = ::lseek(fd, static_cast<off_t>(offset), origin);
    return at < 0 ? -1 : static_cast<long>(at);
}

int remove(const char* name) {
    if (name == nullptr) {
        errno = EINVAL;
        return -1;
    }
    return ::unlink(name) == 0 ? 0 : -1;
}

char* _tempnam(const char* dir, const char* prefix) {
    if (fault::shouldFail(fault::Kind::TempName)) {
        errno = EEXIST;
        return nullptr;
    }
    const char* tmp = std::getenv("TMP");
    const char* base = isDirectory(tmp) ? tmp : isDirectory(dir) ? dir : P_tmpdir;
    if (prefix == nullptr) prefix = "";
    std::size_t size = std::strlen(base) + 1 + std::strlen(prefix) + 40;
    auto* name = static_cast<char*>(crt::malloc(size));
    if (name == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    const char* separator = base[0] != '\0' && base[std::strlen(base) - 1] == '/' ? "" : "/";
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::snprintf(name, size, "%s%s%s%ld.%lu", base, separator, prefix, static_cast<long>(getpid()),
                      tempCounter.fetch_add(1));
        struct stat info;
        if (lstat(name, &info) != 0 && errno == ENOENT) return name;
    }
    crt::free(name);
    errno = EEXIST;
    return nullptr;
}

}  // namespace crt
