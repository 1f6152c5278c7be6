#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include "cabinet/cabinet_callbacks.h"
#include "platform/fault.h"
#include "platform/low_level_files.h"
#include "tests/cabinet/cabinet_test_support.h"
#include "tests/common/test_support.h"

using namespace cabinet_test;
using testing_support::TempDir;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

struct OpenInfo {
    INT_PTR fd;
    USHORT date = 0xFFFF, time = 0xFFFF, attribs = 0xFFFF;
    int err = 0;
};

OpenInfo openInfo(const std::string& name) {
    OpenInfo info;
    std::string copy = name;
    info.fd = cabGetOpenInfo(copy.data(), &info.date, &info.time, &info.attribs, &info.err, nullptr);
    return info;
}

int openDescriptors() {
    int count = 0;
    for (int fd = 0; fd < 1024; ++fd)
        if (fcntl(fd, F_GETFD) != -1) ++count;
    return count;
}

}  // namespace

TEST(CabGetOpenInfo, MissingFileOpensNothing) {
    TempDir dir;
    int before = openDescriptors();
    OpenInfo info = openInfo(dir.file("missing.gif"));
    EXPECT_EQ(info.fd, -1);
    EXPECT_EQ(info.err, ENOENT);
    EXPECT_EQ(openDescriptors(), before);
}

TEST(CabGetOpenInfo, AttributesFromThePlatformMapping) {
    TempDir dir;
    struct Case {
        const char* name;
        mode_t mode;
        USHORT attributes;
    };
    const Case cases[] = {
        {"plain.txt", 0644, 0x00},     // normal 0x80 masked away
        {"locked.txt", 0444, 0x01},    // no write permission: read-only
        {".hidden", 0644, 0x02},       // dot file: hidden
        {".locked", 0400, 0x03},
    };
    for (const Case& c : cases) {
        writeFile(dir.file(c.name), "x");
        ASSERT_EQ(chmod(dir.file(c.name).c_str(), c.mode), 0);
        OpenInfo info = openInfo(dir.file(c.name));
        ASSERT_GE(info.fd, 0) << c.name;
        EXPECT_EQ(info.attribs, c.attributes) << c.name;
        char byte;
        EXPECT_EQ(read(static_cast<int>(info.fd), &byte, 1), 1);  // opened for reading
        close(static_cast<int>(info.fd));
    }
}

TEST(CabGetOpenInfo, LocalDateAndTimeOfTheLastWrite) {
    TempDir dir;
    std::string name = dir.file("dated.gif");
    writeFile(name, "x");
    struct tm local = {};
    local.tm_year = 2024 - 1900;
    local.tm_mon = 6;  // July
    local.tm_mday = 9;
    local.tm_hour = 14;
    local.tm_min = 30;
    local.tm_sec = 10;
    local.tm_isdst = -1;
    struct utimbuf times = {mktime(&local), mktime(&local)};
    ASSERT_EQ(utime(name.c_str(), &times), 0);
    OpenInfo info = openInfo(name);
    ASSERT_GE(info.fd, 0);
    close(static_cast<int>(info.fd));
    EXPECT_EQ(info.date, ((2024 - 1980) << 9) | (7 << 5) | 9);
    EXPECT_EQ(info.time, (14 << 11) | (30 << 5) | 5);
}

TEST(CabGetOpenInfo, InjectedOpenFailures) {
    TempDir dir;
    writeFile(dir.file("a"), "a");
    for (long nth : {1, 2}) {  // CreateFileA, then the run-time library's open
        fault::Scope scope;
        fault::failAt(fault::Kind::Open, nth);
        int before = openDescriptors();
        EXPECT_EQ(openInfo(dir.file("a")).fd, -1) << nth;
        EXPECT_EQ(openDescriptors(), before);
    }
}

TEST(CabGetTempFile, BufferSizes) {
    TempDir dir;
    TmpVariable tmp(dir.path());
    char buffer[512];
    std::string name;
    // Names count upwards; take one whose successor has the same length.
    for (;;) {
        ASSERT_TRUE(cabGetTempFile(buffer, sizeof buffer, nullptr));
        name = buffer;
        unsigned long counter = std::stoul(name.substr(name.rfind('.') + 1));
        std::string next = std::to_string(counter + 1);
        if (next.size() == std::to_string(counter).size()) break;
    }
    EXPECT_EQ(name.rfind(dir.path() + "/xx", 0), 0u) << name;
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_TRUE(cabGetTempFile(buffer, static_cast<int>(name.size() + 1), nullptr));
    EXPECT_EQ(std::strlen(buffer), name.size());
    EXPECT_NE(std::string(buffer), name);  // a fresh one
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_FALSE(cabGetTempFile(buffer, static_cast<int>(name.size()), nullptr));
    EXPECT_EQ(buffer[0], '#');
    EXPECT_TRUE(dir.list().empty());  // names only, no files
}

TEST(CabGetTempFile, InjectedFailure) {
    fault::Scope scope;
    fault::failAt(fault::Kind::TempName, 1);
    char buffer[256] = "untouched";
    EXPECT_FALSE(cabGetTempFile(buffer, sizeof buffer, nullptr));
    EXPECT_STREQ(buffer, "untouched");
}

TEST(CabCallbacks, FilesThroughDescriptors) {
    TempDir dir;
    std::string name = dir.file("f.bin");
    int err = 0;
    INT_PTR fd = cabOpen(name.data(), crt::_O_RDWR | crt::_O_CREAT | crt::_O_EXCL | crt::_O_BINARY,
                         crt::_S_IREAD | crt::_S_IWRITE, &err, nullptr);
    ASSERT_GE(fd, 0);
    char data[] = "0123456789";
    EXPECT_EQ(cabWrite(fd, data, 10, &err, nullptr), 10u);
    EXPECT_EQ(cabSeek(fd, 4, SEEK_SET, &err, nullptr), 4);
    char back[6] = {};
    EXPECT_EQ(cabRead(fd, back, 5, &err, nullptr), 5u);
    EXPECT_STREQ(back, "45678");
    errno = 0;  // a short read stores the error number as it stands, here none
    EXPECT_EQ(cabRead(fd, back, 5, &err, nullptr), 1u);
    EXPECT_EQ(cabSeek(fd, 0, SEEK_END, &err, nullptr), 10);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(cabClose(fd, &err, nullptr), 0);
    EXPECT_EQ(readFile(name), "0123456789");

    err = 0;
    EXPECT_EQ(cabOpen(name.data(), crt::_O_RDWR | crt::_O_CREAT | crt::_O_EXCL, 0x180, &err, nullptr), -1);
    EXPECT_EQ(err, EEXIST);
    EXPECT_EQ(cabClose(999, &err, nullptr), -1);
    EXPECT_EQ(err, EBADF);
    err = 0;
    EXPECT_EQ(cabSeek(999, 0, SEEK_SET, &err, nullptr), -1);
    EXPECT_EQ(err, EBADF);
    EXPECT_EQ(cabDelete(name.data(), &err, nullptr), 0);
    EXPECT_EQ(cabDelete(name.data(), &err, nullptr), -1);
    EXPECT_EQ(err, ENOENT);
    {
        fault::Scope scope;
        fault::failAt(fault::Kind::Write, 1);
        int out = open(dir.file("w").c_str(), O_CREAT | O_WRONLY, 0644);
        err = 0;
        EXPECT_EQ(cabWrite(out, data, 10, &err, nullptr), static_cast<UINT>(-1));
        EXPECT_EQ(err, ENOSPC);
        close(out);
    }
}

TEST(CabCallbacks, MemoryAndNotifications) {
    void* block = cabAlloc(100);
    ASSERT_NE(block, nullptr);
    cabFree(block);
    {
        fault::Scope scope;
        fault::failAt(fault::Kind::Alloc, 1);
        EXPECT_EQ(cabAlloc(100), nullptr);
    }
    CCAB params;
    std::memset(&params, 0x33, sizeof params);
    CCAB copy = params;
    EXPECT_TRUE(cabGetNextCabinet(&params, 12345, nullptr));
    EXPECT_EQ(std::memcmp(&params, &copy, sizeof params), 0);
    char name[] = "a.gif";
    EXPECT_EQ(cabFilePlaced(&params, name, 10, 0, nullptr), 0);
    EXPECT_EQ(cabStatus(statusCabinet, 1, 2, nullptr), 0);
}
