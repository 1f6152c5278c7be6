#include <gtest/gtest.h>

#include <cstring>

#include "support/memory_file.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

struct Loaded {
    TempDir dir;
    MemoryFile file;
    explicit Loaded(const std::string& bytes) {
        writeFile(dir.file("f"), bytes);
        file.load(dir.file("f").c_str());
    }
};

}  // namespace

TEST(MemoryFile, LoadSetsTheCursorAtTheStart) {
    Loaded loaded("GIF89a");
    MemoryFile& f = loaded.file;
    ASSERT_NE(f.base, nullptr);
    EXPECT_EQ(f.cursor, f.base);
    EXPECT_EQ(f.size, 6);
    EXPECT_EQ(f.consumed, 0);
    EXPECT_EQ(f.base[6], 0);
}

TEST(MemoryFile, ReadByteSkipAndReadIntoAdvanceTogether) {
    Loaded loaded(std::string("\x01\x02\0\x04\x05\x06\x07", 7));
    MemoryFile& f = loaded.file;
    EXPECT_EQ(f.readByte(), 1);
    const std::uint8_t* at = f.skip(2);
    ASSERT_NE(at, nullptr);
    EXPECT_EQ(at[0], 2);
    EXPECT_EQ(at[1], 0);
    EXPECT_EQ(f.skip(0), f.cursor);
    char into[3];
    EXPECT_EQ(f.readInto(into, 3), 3);
    EXPECT_EQ(std::memcmp(into, "\x04\x05\x06", 3), 0);
    EXPECT_EQ(f.consumed, 6);
    EXPECT_EQ(f.remaining(), 1);
}

TEST(MemoryFile, ReadIntoCopiesZeroBytes) {
    Loaded loaded(std::string("a\0\0b", 4));
    char into[4] = {1, 1, 1, 1};
    loaded.file.readInto(into, 4);
    EXPECT_EQ(std::memcmp(into, "a\0\0b", 4), 0);
}

// Past the data nothing outside the block is read or handed out, and consumed
// keeps counting so that callers see they went too far.
TEST(MemoryFile, NothingPastTheDataIsReadOrHandedOut) {
    Loaded loaded("xyz");
    MemoryFile& f = loaded.file;
    EXPECT_EQ(f.skip(2)[0], 'x');
    EXPECT_EQ(f.skip(5), nullptr);
    EXPECT_EQ(f.cursor, f.base + f.size);
    EXPECT_EQ(f.consumed, 7);
    EXPECT_EQ(f.readByte(), 0);
    char into[4] = {9, 9, 9, 9};
    EXPECT_EQ(f.readInto(into, 4), 4);
    EXPECT_EQ(std::memcmp(into, "\0\0\0\0", 4), 0);
    EXPECT_EQ(f.consumed, 12);
    EXPECT_GT(f.consumed, f.size);
}

TEST(MemoryFile, ReadIntoPartlyPastTheEndZeroFillsTheRest) {
    Loaded loaded("ab");
    char into[5] = {7, 7, 7, 7, 7};
    loaded.file.readInto(into, 5);
    EXPECT_EQ(std::memcmp(into, "ab\0\0\0", 5), 0);
}

TEST(MemoryFile, ReleaseTwiceIsHarmlessAndAnEmptyFileReadsZero) {
    MemoryFile f;
    EXPECT_EQ(f.readByte(), 0);
    EXPECT_EQ(f.skip(1), nullptr);
    Loaded loaded("q");
    loaded.file.release();
    loaded.file.release();
    EXPECT_EQ(loaded.file.base, nullptr);
}

TEST(MemoryFile, LoadOfAMissingFileFails) {
    TempDir dir;
    MemoryFile f;
    EXPECT_EQ(f.load(dir.file("none").c_str()), nullptr);
    EXPECT_EQ(f.size, 0);
    EXPECT_EQ(f.readByte(), 0);
}
