#include "platform/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fault.h"

namespace {

HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd) + 1); }

int openFlags(DWORD access, DWORD disposition) {
    int flags = O_CLOEXEC;
    bool reads = (access & GENERIC_READ) != 0;
    bool writes = (access & GENERIC_WRITE) != 0;
    flags |= reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
    switch (disposition) {
        case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
        case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
        case OPEN_ALWAYS: flags |= O_CREAT; break;
        case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
        default: break;  // OPEN_EXISTING
    }
    return flags;
}

}  // namespace

int descriptorOf(HANDLE file) {
    if (file == nullptr || file == INVALID_HANDLE_VALUE) return -1;
    return static_cast<int>(reinterpret_cast<std::intptr_t>(file) - 1);
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD, void*, DWORD disposition, DWORD, HANDLE) {
    if (name == nullptr) return INVALID_HANDLE_VALUE;
    if (fault::shouldFail(fault::Kind::Open)) {
        errno = EACCES;
        return INVALID_HANDLE_VALUE;
    }
    int fd;
    do fd = open(name, openFlags(access, disposition), 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {  // a directory is no file here
        close(fd);
        errno = EISDIR;
        return INVALID_HANDLE_VALUE;
    }
    return handleOf(fd);
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* read, void*) {
    DWORD done = 0;
    if (read != nullptr) *read = 0;
    int fd = descriptorOf(file);
    if (fd < 0) return 0;
    if (fault::shouldFail(fault::Kind::Read)) {
        errno = EIO;
        return 0;
    }
    auto* bytes = static_cast<char*>(buffer);
    while (done < count) {
        ssize_t got = ::read(fd, bytes + done, count - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            if (read != nullptr) *read = done;
            return 0;
        }
        if (got == 0) break;
        done += static_cast<DWORD>(got);
    }
    if (read != nullptr) *read = done;
    return 1;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* written, void*) {
    DWORD done = 0;
    if (written != nullptr) *written = 0;
    int fd = descriptorOf(file);
    if (fd < 0) return 0;
    if (fault::shouldFail(fault::Kind::Write)) {
        errno = ENOSPC;
        return 0;
    }
    auto* bytes = static_cast<const char*>(buffer);
    while (done < count) {
        ssize_t put = ::write(fd, bytes + done, count - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (written != nullptr) *written = done;
            return 0;
        }
        done += static_cast<DWORD>(put);
    }
    if (written != nullptr) *written = done;
    return 1;
}

DWORD GetFileSize(HANDLE file, DWORD* high) {
    struct stat info;
    int fd = descriptorOf(file);
    if (fd < 0 || fstat(fd, &info) != 0) {
        if (high != nullptr) *high = 0;
        return 0xFFFFFFFFu;
    }
    auto size = static_cast<std::uint64_t>(info.st_size);
    if (high != nullptr) *high = static_cast<DWORD>(size >> 32);
    return static_cast<DWORD>(size);
}

BOOL CloseHandle(HANDLE object) {
    int fd = descriptorOf(object);
    return fd >= 0 && close(fd) == 0;
}

BOOL DeleteFileA(LPCSTR name) { return name != nullptr && unlink(name) == 0; }

BOOL MoveFileExA(LPCSTR existing, LPCSTR replacement, DWORD flags) {
    if (existing == nullptr || replacement == nullptr) return 0;
    if (!(flags & MOVEFILE_REPLACE_EXISTING)) {
        struct stat info;
        if (lstat(replacement, &info) == 0) {
            errno = EEXIST;
            return 0;
        }
    }
    return rename(existing, replacement) == 0;
}

BOOL ReplaceFileA(LPCSTR replaced, LPCSTR replacement, LPCSTR, DWORD, void*, void*) {
    struct stat info;
    if (replaced == nullptr || replacement == nullptr || stat(replaced, &info) != 0) return 0;
    if (chmod(replacement, info.st_mode & 07777) != 0) return 0;
    return rename(replacement, replaced) == 0;
}

DWORD GetFileAttributesA(LPCSTR name) {
    struct stat info;
    if (name == nullptr || stat(name, &info) != 0) return INVALID_FILE_ATTRIBUTES;
    if (S_ISDIR(info.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
    if (!S_ISREG(info.st_mode)) return FILE_ATTRIBUTE_DEVICE;
    DWORD attributes = 0;
    if (!(info.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
    const char* base = std::strrchr(name, '/');
    base = base != nullptr ? base + 1 : name;
    if (base[0] == '.') attributes |= FILE_ATTRIBUTE_HIDDEN;
    return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}
