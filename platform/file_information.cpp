#include "platform/file_information.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <sys/stat.h>

#include "platform/files.h"

namespace {

constexpr std::int64_t ticksPerSecond = 10000000;
constexpr std::int64_t secondsFrom1601To1970 = 11644473600LL;

std::int64_t ticksOf(const FILETIME& time) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

FILETIME fileTimeOf(std::int64_t ticks) {
    auto bits = static_cast<std::uint64_t>(ticks);
    return FILETIME{static_cast<DWORD>(bits), static_cast<DWORD>(bits >> 32)};
}

FILETIME fileTimeOf(const struct timespec& at) {
    return fileTimeOf((static_cast<std::int64_t>(at.tv_sec) + secondsFrom1601To1970) * ticksPerSecond +
                      at.tv_nsec / 100);
}

DWORD attributesOf(const struct stat& info) {
    if (S_ISDIR(info.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
    if (!S_ISREG(info.st_mode)) return FILE_ATTRIBUTE_DEVICE;
    return (info.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}

}  // namespace

BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) {
    struct stat info;
    int fd = descriptorOf(file);
    if (fd < 0 || information == nullptr) {
        errno = EBADF;
        return 0;
    }
    if (fstat(fd, &info) != 0) return 0;
    information->dwFileAttributes = attributesOf(info);
    information->ftCreationTime = fileTimeOf(info.st_ctim);
    information->ftLastAccessTime = fileTimeOf(info.st_atim);
    information->ftLastWriteTime = fileTimeOf(info.st_mtim);
    information->dwVolumeSerialNumber = static_cast<DWORD>(info.st_dev);
    auto size = static_cast<std::uint64_t>(info.st_size);
    information->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    information->nFileSizeLow = static_cast<DWORD>(size);
    information->nNumberOfLinks = static_cast<DWORD>(info.st_nlink);
    auto index = static_cast<std::uint64_t>(info.st_ino);
    information->nFileIndexHigh = static_cast<DWORD>(index >> 32);
    information->nFileIndexLow = static_cast<DWORD>(index);
    return 1;
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
    if (utc == nullptr || local == nullptr) return 0;
    std::int64_t ticks = ticksOf(*utc);
    std::time_t seconds = static_cast<std::time_t>(ticks / ticksPerSecond - secondsFrom1601To1970);
    struct tm parts;
    if (localtime_r(&seconds, &parts) == nullptr) return 0;
    *local = fileTimeOf(ticks + static_cast<std::int64_t>(parts.tm_gmtoff) * ticksPerSecond);
    return 1;
}

BOOL FileTimeToDosDateTime(const FILETIME* time, WORD* dosDate, WORD* dosTime) {
    if (time == nullptr || dosDate == nullptr || dosTime == nullptr) return 0;
    std::int64_t ticks = ticksOf(*time);
    if (ticks < 0) return 0;
    // The value is read as a wall-clock reading: broken down without any zone.
    std::time_t seconds = static_cast<std::time_t>(ticks / ticksPerSecond - secondsFrom1601To1970);
    struct tm parts;
    if (gmtime_r(&seconds, &parts) == nullptr) return 0;
    int year = parts.tm_year + 1900;
    if (year < 1980 || year > 2107) return 0;
    *dosDate = static_cast<WORD>(((year - 1980) << 9) | ((parts.tm_mon + 1) << 5) | parts.tm_mday);
    *dosTime = static_cast<WORD>((parts.tm_hour << 11) | (parts.tm_min << 5) | (parts.tm_sec / 2));
    return 1;
}
