#include <gtest/gtest.h>

#include <climits>
#include <sys/stat.h>

#include "support/files.h"
#include "support/memory.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

bool writeAll(const std::string& path, const std::string& bytes) {
    HANDLE file = createForWriting(path.c_str(), 1);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = writeBytes(file, bytes.data(), static_cast<std::int32_t>(bytes.size())) ==
              static_cast<std::int32_t>(bytes.size());
    return closeFile(file) == 1 && ok;
}

}  // namespace

TEST(OpenWithSize, MissingFileIsTracedNotShown) {
    Recorder recorder;
    TempDir dir;
    std::string path = dir.file("missing.gif");
    std::int32_t size = 77;
    EXPECT_EQ(openWithSize(path.c_str(), &size), INVALID_HANDLE_VALUE);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(recorder.traces(), (std::vector<std::string>{"File not found: ", path}));
    EXPECT_TRUE(recorder.boxes().empty());
}

TEST(LoadWholeFile, EmptyFileGivesOneZeroByte) {
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("empty"), ""));
    std::int32_t size = -1;
    std::uint8_t* block = loadWholeFile(dir.file("empty").c_str(), &size);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(block[0], 0);
    freeBlock(block);
}

TEST(LoadWholeFile, HoldsEveryByteAndATerminatingZero) {
    TempDir dir;
    std::string bytes("a\0b\xff", 4);
    bytes += std::string(100000, 'x');
    ASSERT_TRUE(writeFile(dir.file("data"), bytes));
    std::int32_t size = 0;
    std::uint8_t* block = loadWholeFile(dir.file("data").c_str(), &size);
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(size, static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block), bytes.size()), bytes);
    EXPECT_EQ(block[size], 0);
    freeBlock(block);
}

TEST(LoadWholeFile, MissingFileAndFailedAllocation) {
    Recorder recorder;
    TempDir dir;
    std::int32_t size = 5;
    EXPECT_EQ(loadWholeFile(dir.file("none").c_str(), &size), nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_TRUE(recorder.boxes().empty());

    ASSERT_TRUE(writeFile(dir.file("some"), "12345"));
    fault::Scope faults;
    fault::failAt(fault::Kind::Alloc, 1);
    EXPECT_EQ(loadWholeFile(dir.file("some").c_str(), &size), nullptr);
    EXPECT_EQ(recorder.boxCount("Sorry, not enough memory"), 1);
    EXPECT_EQ(fault::count(fault::Kind::Open), 1);  // the file was opened once, and closed again
}

TEST(ReadBytes, EndOfFileIsZeroAndAFailureIsMinusOne) {
    Recorder recorder;
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("f"), "abc"));
    HANDLE file = openForReading(dir.file("f").c_str());
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char buffer[8] = {};
    EXPECT_EQ(readBytes(file, buffer, 8), 3);
    EXPECT_EQ(readBytes(file, buffer, 8), 0);
    EXPECT_TRUE(recorder.boxes().empty());
    closeFile(file);

    file = openForReading(dir.file("f").c_str());
    fault::Scope faults;
    fault::failAt(fault::Kind::Read, 1);
    EXPECT_EQ(readBytes(file, buffer, 1), -1);
    EXPECT_EQ(recorder.boxCount("Cannot read file"), 1);
    closeFile(file);
}

TEST(ReadBytes, ByteByByteReadingCostsNoSystemCallPerByte) {
    TempDir dir;
    std::string bytes(300000, 'q');
    bytes[299999] = 'z';
    ASSERT_TRUE(writeFile(dir.file("f"), bytes));
    HANDLE file = openForReading(dir.file("f").c_str());
    fault::Scope faults;
    char c = 0;
    std::int32_t total = 0;
    while (readBytes(file, &c, 1) == 1) ++total;
    closeFile(file);
    EXPECT_EQ(total, 300000);
    EXPECT_EQ(c, 'z');
    EXPECT_LE(fault::count(fault::Kind::Read), 6);
}

TEST(CloseFile, NullAndInvalidHandlesDoNothing) {
    EXPECT_EQ(closeFile(nullptr), 0);
    EXPECT_EQ(closeFile(INVALID_HANDLE_VALUE), 0);
}

TEST(WriteBytes, ByteByByteWritingCostsNoSystemCallPerByte) {
    TempDir dir;
    fault::Scope faults;
    HANDLE file = createForWriting(dir.file("out").c_str(), 1);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    for (int i = 0; i < 200000; ++i) ASSERT_EQ(writeByte(file, i), 1);
    EXPECT_EQ(closeFile(file), 1);
    EXPECT_LE(fault::count(fault::Kind::Write), 4);
    std::string bytes = readFile(dir.file("out"));
    ASSERT_EQ(bytes.size(), 200000u);
    for (int i = 0; i < 200000; i += 9973) ASSERT_EQ(static_cast<unsigned char>(bytes[i]), i & 0xFF);
}

TEST(WriteBytes, LongsAreLeastSignificantFirstAndSwappedMostFirst) {
    TempDir dir;
    HANDLE file = createForWriting(dir.file("out").c_str(), 1);
    EXPECT_EQ(writeLong(file, 0x2E736E64u), 4);
    EXPECT_EQ(writeLong(file, swapBytes32(0x2E736E64u)), 4);
    EXPECT_EQ(closeFile(file), 1);
    EXPECT_EQ(readFile(dir.file("out")), std::string("dns..snd"));
    EXPECT_EQ(swapBytes32(0x01020304u), 0x04030201u);
}

TEST(CreateForWriting, ReplacesAnExistingFileOnlyWhenWritten) {
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("picture.gif"), std::string(5000, 'o')));
    ASSERT_TRUE(writeAll(dir.file("picture.gif"), "new"));
    EXPECT_EQ(readFile(dir.file("picture.gif")), "new");  // truncated, not overwritten in place
    EXPECT_EQ(dir.list(), std::vector<std::string>{"picture.gif"});
}

TEST(CreateForWriting, OldFileStaysUntilTheNewOneIsWhole) {
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("keep"), "old contents"));
    HANDLE file = createForWriting(dir.file("keep").c_str(), 1);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    writeBytes(file, "new", 3);
    EXPECT_EQ(readFile(dir.file("keep")), "old contents");
    EXPECT_EQ(closeFile(file), 1);
    EXPECT_EQ(readFile(dir.file("keep")), "new");
}

// Every write that can fail, small (buffered) and large (direct), at every point.
TEST(CreateForWriting, AFailedWriteLeavesTheOldFileAndOneBox) {
    const std::string large(10000, 'L');
    for (int failing = 1; failing <= 3; ++failing) {
        SCOPED_TRACE(failing);
        Recorder recorder;
        TempDir dir;
        ASSERT_TRUE(writeFile(dir.file("keep"), "old contents"));
        fault::Scope faults;
        fault::failAt(fault::Kind::Write, failing);
        HANDLE file = createForWriting(dir.file("keep").c_str(), 1);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        bool sawFailure = false;
        for (int i = 0; i < 3; ++i) {
            sawFailure |= writeBytes(file, large.data(), static_cast<std::int32_t>(large.size())) < 0;
            sawFailure |= writeBytes(file, "tail", 4) < 0;
        }
        EXPECT_EQ(closeFile(file), 0);
        EXPECT_EQ(readFile(dir.file("keep")), "old contents");
        EXPECT_EQ(dir.list(), std::vector<std::string>{"keep"});
        EXPECT_EQ(recorder.boxCount("Cannot write file"), 1);
        EXPECT_EQ(recorder.boxes().size(), 1u);
        EXPECT_TRUE(sawFailure);
    }
}

TEST(CreateForWriting, LaterWritesAfterAFailureDoNothing) {
    Recorder recorder;
    TempDir dir;
    fault::Scope faults;
    fault::failAt(fault::Kind::Write, 1);
    HANDLE file = createForWriting(dir.file("new").c_str(), 1);
    std::string block(8192, 'b');
    EXPECT_EQ(writeBytes(file, block.data(), 8192), -1);
    EXPECT_EQ(writeBytes(file, block.data(), 8192), -1);
    EXPECT_EQ(writeByte(file, 1), -1);
    EXPECT_EQ(fault::count(fault::Kind::Write), 1);
    EXPECT_EQ(closeFile(file), 0);
    EXPECT_FALSE(fileExists(dir.file("new")));
    EXPECT_TRUE(dir.list().empty());
    EXPECT_EQ(recorder.boxCount("Cannot write file"), 1);
}

TEST(CreateForWriting, KeepsTheReplacedFilesPermissionBits) {
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("f"), "old"));
    ASSERT_EQ(chmod(dir.file("f").c_str(), 0640), 0);
    ASSERT_TRUE(writeAll(dir.file("f"), "new"));
    struct stat info;
    ASSERT_EQ(stat(dir.file("f").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(CreateForWriting, FailureIsTracedNotShown) {
    Recorder recorder;
    TempDir dir;
    std::string path = dir.file("no-such-dir/out.gif");
    EXPECT_EQ(createForWriting(path.c_str(), 1), INVALID_HANDLE_VALUE);
    EXPECT_EQ(recorder.traces(), (std::vector<std::string>{"Cannot create file: ", path}));
    EXPECT_TRUE(recorder.boxes().empty());

    recorder.clear();
    EXPECT_EQ(createForWriting(dir.path().c_str(), 1), INVALID_HANDLE_VALUE);  // a directory
    EXPECT_EQ(recorder.traces().size(), 2u);

    recorder.clear();
    fault::Scope faults;
    fault::failAt(fault::Kind::Open, 1);
    EXPECT_EQ(createForWriting(dir.file("x").c_str(), 1), INVALID_HANDLE_VALUE);
    EXPECT_EQ(recorder.traces(), (std::vector<std::string>{"Cannot create file: ", dir.file("x")}));
    EXPECT_TRUE(dir.list().empty());
}

TEST(CreateForWriting, ADeviceIsWrittenDirectly) {
    HANDLE file = createForWriting("/dev/null", 1);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(writeBytes(file, "xyz", 3), 3);
    EXPECT_EQ(closeFile(file), 1);
    struct stat info;
    ASSERT_EQ(stat("/dev/null", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST(DiscardFile, LeavesTheTargetAndNoNewFile) {
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("keep"), "old"));
    HANDLE file = createForWriting(dir.file("keep").c_str(), 1);
    writeBytes(file, "partial", 7);
    discardFile(file);
    EXPECT_EQ(readFile(dir.file("keep")), "old");
    EXPECT_EQ(dir.list(), std::vector<std::string>{"keep"});
}

namespace {

struct LimitCase {
    std::string dir;
    std::size_t bytes;
};

int writeUnderLimit(void* context) {
    auto* job = static_cast<LimitCase*>(context);
    Recorder recorder;
    std::string path = job->dir + "/keep";
    HANDLE file = createForWriting(path.c_str(), 1);
    if (file == INVALID_HANDLE_VALUE) return 10;
    std::string chunk(1000, 'n');
    for (std::size_t done = 0; done < job->bytes; done += chunk.size())
        writeBytes(file, chunk.data(), static_cast<std::int32_t>(chunk.size()));
    int closed = closeFile(file);
    int boxes = recorder.boxCount("Cannot write file");
    return closed == 0 && boxes == 1 ? 0 : 20 + closed * 10 + boxes;
}

int createInReadOnlyDirectory(void* context) {
    auto* job = static_cast<LimitCase*>(context);
    std::string path = job->dir + "/keep";
    HANDLE file = createForWriting(path.c_str(), 1);
    return file == INVALID_HANDLE_VALUE ? 0 : 1;
}

}  // namespace

TEST(CreateForWriting, AFullDiskLeavesTheOldFile) {
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("keep"), "old contents"));
    LimitCase job{dir.path(), 300000};
    EXPECT_EQ(runInChild(writeUnderLimit, &job, false, 100000), 0);
    EXPECT_EQ(readFile(dir.file("keep")), "old contents");
    EXPECT_EQ(dir.list(), std::vector<std::string>{"keep"});
}

TEST(CreateForWriting, AReadOnlyDirectoryRefusesAndKeepsTheFile) {
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("keep"), "old contents"));
    ASSERT_EQ(chmod(dir.file("keep").c_str(), 0666), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    LimitCase job{dir.path(), 0};
    EXPECT_EQ(runInChild(createInReadOnlyDirectory, &job, true), 0);
    chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(readFile(dir.file("keep")), "old contents");
    EXPECT_EQ(dir.list(), std::vector<std::string>{"keep"});
}
