#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "platform/file_information.h"
#include "platform/files.h"
#include "platform/library_loader.h"
#include "platform/low_level_files.h"
#include "platform/runtime.h"
#include "tests/cabinet/cabinet_test_support.h"
#include "tests/common/test_support.h"

using namespace cabinet_test;
using testing_support::TempDir;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

FILETIME fileTime(long long unixSeconds) {
    auto ticks = static_cast<unsigned long long>((unixSeconds + 11644473600LL) * 10000000LL);
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace

TEST(LowLevelFiles, FlagsInTheRunTimeLibrarysNumbering) {
    TempDir dir;
    std::string name = dir.file("f");
    int fd = crt::_open(name.c_str(), crt::_O_WRONLY | crt::_O_CREAT | crt::_O_TRUNC | crt::_O_BINARY,
                        crt::_S_IREAD | crt::_S_IWRITE);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(crt::_write(fd, "abc", 3), 3);
    EXPECT_EQ(crt::_read(fd, nullptr, 0), 0);
    EXPECT_EQ(crt::_close(fd), 0);
    EXPECT_EQ(crt::_open(name.c_str(), crt::_O_RDWR | crt::_O_CREAT | crt::_O_EXCL, 0x180), -1);
    EXPECT_EQ(errno, EEXIST);
    fd = crt::_open(name.c_str(), crt::_O_RDONLY | crt::_O_BINARY);
    char buffer[4] = {};
    EXPECT_EQ(crt::_write(fd, "x", 1), -1);  // read-only
    EXPECT_EQ(crt::_read(fd, buffer, 4), 3);
    EXPECT_EQ(crt::_lseek(fd, 1, SEEK_SET), 1);
    EXPECT_EQ(crt::_read(fd, buffer, 2), 2);
    EXPECT_EQ(std::string(buffer, 2), "bc");
    crt::_close(fd);
    // A file created read-only.
    std::string locked = dir.file("locked");
    fd = crt::_open(locked.c_str(), crt::_O_WRONLY | crt::_O_CREAT, crt::_S_IREAD);
    crt::_close(fd);
    struct stat info;
    ASSERT_EQ(stat(locked.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0222, 0u);
    EXPECT_EQ(crt::remove(locked.c_str()), 0);
    EXPECT_EQ(crt::remove(locked.c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(crt::_open(dir.path().c_str(), crt::_O_RDONLY), -1);  // a directory is no file
}

TEST(LowLevelFiles, FaultKinds) {
    TempDir dir;
    writeFile(dir.file("f"), "abc");
    fault::Scope scope;
    fault::failAt(fault::Kind::Open, 1);
    EXPECT_EQ(crt::_open(dir.file("f").c_str(), crt::_O_RDONLY), -1);
    int fd = crt::_open(dir.file("f").c_str(), crt::_O_RDWR);
    ASSERT_GE(fd, 0);
    char buffer[3];
    fault::failAt(fault::Kind::Read, 1);
    EXPECT_EQ(crt::_read(fd, buffer, 3), -1);
    EXPECT_EQ(errno, EIO);
    fault::failAt(fault::Kind::Write, 1);
    EXPECT_EQ(crt::_write(fd, "x", 1), -1);
    EXPECT_EQ(errno, ENOSPC);
    crt::_close(fd);
    fault::failAt(fault::Kind::TempName, 1);
    EXPECT_EQ(crt::_tempnam("", "xx"), nullptr);
    EXPECT_EQ(readFile(dir.file("f")), "abc");
}

TEST(LowLevelFiles, TemporaryNamesFollowTmp) {
    TempDir tmpDir;
    TempDir given;
    struct Case {
        std::string tmp;
        std::string dir;
        std::string expectedFolder;
    };
    const Case cases[] = {
        {tmpDir.path(), given.path(), tmpDir.path()},
        {tmpDir.path() + "/missing", given.path(), given.path()},
        {tmpDir.path() + "/missing", "", P_tmpdir},
        {tmpDir.path() + "/", "", tmpDir.path()},
    };
    for (const Case& c : cases) {
        TmpVariable tmp(c.tmp);
        char* name = crt::_tempnam(c.dir.c_str(), "xx");
        ASSERT_NE(name, nullptr);
        std::string text = name;
        crt::free(name);
        std::string folder = text.substr(0, text.rfind('/'));
        EXPECT_EQ(folder, c.expectedFolder) << text;
        EXPECT_EQ(text.compare(text.rfind('/') + 1, 2, "xx"), 0) << text;
    }
    TmpVariable tmp(tmpDir.path());
    char* first = crt::_tempnam("", "xx");
    char* second = crt::_tempnam("", "xx");
    EXPECT_STRNE(first, second);
    crt::free(first);
    crt::free(second);
}

TEST(FileInformation, ByHandle) {
    TempDir dir;
    writeFile(dir.file("f"), "12345");
    ASSERT_EQ(chmod(dir.file("f").c_str(), 0444), 0);
    HANDLE file = CreateFileA(dir.file("f").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0x08000080, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION info;
    ASSERT_TRUE(GetFileInformationByHandle(file, &info));
    EXPECT_EQ(info.nFileSizeLow, 5u);
    EXPECT_EQ(info.nFileSizeHigh, 0u);
    EXPECT_EQ(info.dwFileAttributes, FILE_ATTRIBUTE_READONLY);
    struct stat st;
    ASSERT_EQ(stat(dir.file("f").c_str(), &st), 0);
    FILETIME expected = fileTime(st.st_mtim.tv_sec);
    unsigned long long got = (static_cast<unsigned long long>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                             info.ftLastWriteTime.dwLowDateTime;
    unsigned long long want = (static_cast<unsigned long long>(expected.dwHighDateTime) << 32) | expected.dwLowDateTime;
    EXPECT_EQ(got - got % 10000000, want);
    CloseHandle(file);
    EXPECT_FALSE(GetFileInformationByHandle(INVALID_HANDLE_VALUE, &info));
}

TEST(FileInformation, DosDateAndTime) {
    struct Case {
        long long unixSeconds;
        BOOL ok;
        WORD date;
        WORD time;
    };
    const Case cases[] = {
        {315532800LL, 1, (0 << 9) | (1 << 5) | 1, 0},                                     // 1980-01-01 00:00:00
        {1720535411LL, 1, ((2024 - 1980) << 9) | (7 << 5) | 9, (14 << 11) | (30 << 5) | 5},  // 2024-07-09 14:30:11
        {4354819199LL, 1, (127 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29},      // 2107-12-31 23:59:59
        {315532799LL, 0, 0, 0},                                                            // 1979
        {4354819200LL, 0, 0, 0},                                                           // 2108
    };
    for (const Case& c : cases) {
        FILETIME time = fileTime(c.unixSeconds);
        WORD date = 0, clock = 0;
        EXPECT_EQ(FileTimeToDosDateTime(&time, &date, &clock), c.ok) << c.unixSeconds;
        if (c.ok) {
            EXPECT_EQ(date, c.date) << c.unixSeconds;
            EXPECT_EQ(clock, c.time) << c.unixSeconds;
        }
    }
}

TEST(FileInformation, LocalTimeShiftsByTheZone) {
    const char* old = std::getenv("TZ");
    std::string saved = old != nullptr ? old : "";
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    FILETIME winter = fileTime(1736942400LL);  // 2025-01-15 12:00 UTC
    FILETIME summer = fileTime(1752580800LL);  // 2025-07-15 12:00 UTC
    FILETIME local;
    WORD date, time;
    ASSERT_TRUE(FileTimeToLocalFileTime(&winter, &local));
    FileTimeToDosDateTime(&local, &date, &time);
    EXPECT_EQ(time >> 11, 13);
    ASSERT_TRUE(FileTimeToLocalFileTime(&summer, &local));
    FileTimeToDosDateTime(&local, &date, &time);
    EXPECT_EQ(time >> 11, 14);
    if (old != nullptr) setenv("TZ", saved.c_str(), 1);
    else unsetenv("TZ");
    tzset();
}

TEST(LibraryLoader, FindsTheCabinetLibrary) {
    HMODULE library = LoadLibraryA("CABINET");
    ASSERT_NE(library, nullptr);
    for (const char* name : {"FCICreate", "FCIAddFile", "FCIFlushFolder", "FCIFlushCabinet", "FCIDestroy"})
        EXPECT_NE(GetProcAddress(library, name), nullptr) << name;
    EXPECT_EQ(GetProcAddress(library, "FCINothing"), nullptr);
    EXPECT_TRUE(FreeLibrary(library));
    EXPECT_EQ(LoadLibraryA("NO_SUCH_LIBRARY"), nullptr);
    EXPECT_EQ(LoadLibraryA(""), nullptr);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
    EXPECT_FALSE(FreeLibrary(nullptr));
    HMODULE byPath = LoadLibraryA(testing_support::buildPath("libCABINET.so").c_str());
    EXPECT_NE(byPath, nullptr);
    if (byPath != nullptr) FreeLibrary(byPath);
}
