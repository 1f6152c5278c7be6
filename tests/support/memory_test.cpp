#include <gtest/gtest.h>

#include <cstring>

#include "platform/global_memory.h"
#include "support/memory.h"
#include "tests/common/test_support.h"

using testing_support::Recorder;

TEST(AllocBlock, ZeroInitialisedFlagClearsTheBlock) {
    Recorder recorder;
    auto* block = static_cast<unsigned char*>(allocBlock(4096, blockMovableZeroed));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(block[i], 0) << i;
    freeBlock(block);
    EXPECT_TRUE(recorder.boxes().empty());
}

TEST(AllocBlock, ZeroBytesCannotBeLocked) {
    Recorder recorder;
    EXPECT_EQ(allocBlock(0, blockMovable), nullptr);
    EXPECT_EQ(recorder.boxes(), std::vector<std::string>{"Error: Sorry, not enough memory"});
}

TEST(AllocBlock, PlatformRefusesAZeroByteLockToo) {
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, 0);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(GlobalLock(handle), nullptr);
    EXPECT_EQ(GlobalFree(handle), nullptr);
}

TEST(AllocBlock, FailureShowsTheBoxOnce) {
    Recorder recorder;
    fault::Scope faults;
    fault::failAt(fault::Kind::Alloc, 1);
    EXPECT_EQ(allocBlock(16, blockMovable), nullptr);
    EXPECT_EQ(recorder.boxCount("Sorry, not enough memory"), 1);
    EXPECT_EQ(recorder.boxes().size(), 1u);
}

TEST(AllocBlock, OnlyTheLow16BitsOfTheFlagsArePassedOn) {
    // 0x10040 keeps GMEM_ZEROINIT once the high bits are cut.
    auto* block = static_cast<unsigned char*>(allocBlock(64, 0x10042));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalSize(GlobalHandle(block)), 64u);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], 0);
    freeBlock(block);
}

TEST(FreeBlock, NullIsIgnored) { freeBlock(nullptr); }

TEST(HeapBlocks, ZeroedResizedAndFreed) {
    Recorder recorder;
    auto* block = static_cast<unsigned char*>(allocZeroed(100));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(block[i], 0);
    std::memset(block, 0xAB, 100);
    auto* bigger = static_cast<unsigned char*>(resizeBlock(block, 1000));
    ASSERT_NE(bigger, nullptr);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(bigger[i], 0xAB);
    freeIfSet(bigger);
    freeIfSet(nullptr);
    EXPECT_TRUE(recorder.boxes().empty());
}

TEST(HeapBlocks, ResizeOfNullIsAZeroedBlock) {
    auto* block = static_cast<unsigned char*>(resizeBlock(nullptr, 32));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 32; ++i) ASSERT_EQ(block[i], 0);
    freeIfSet(block);
}

TEST(HeapBlocks, FailedResizeKeepsTheOldBlock) {
    Recorder recorder;
    auto* block = static_cast<unsigned char*>(allocZeroed(8));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "abcdefg", 8);
    {
        fault::Scope faults;
        fault::failAt(fault::Kind::Alloc, 1);
        EXPECT_EQ(resizeBlock(block, 1 << 20), nullptr);
    }
    EXPECT_STREQ(reinterpret_cast<char*>(block), "abcdefg");
    EXPECT_EQ(recorder.boxCount("Sorry, not enough memory"), 1);
    freeIfSet(block);
}

TEST(HeapBlocks, FailedAllocationShowsTheBox) {
    Recorder recorder;
    fault::Scope faults;
    fault::failAt(fault::Kind::Alloc, 1);
    EXPECT_EQ(allocZeroed(10), nullptr);
    EXPECT_EQ(recorder.boxCount("Sorry, not enough memory"), 1);
}

TEST(FaultInjection, CountsAndFailsTheNthOperation) {
    fault::Scope faults;
    fault::failAt(fault::Kind::Alloc, 3);
    void* a = allocZeroed(1);
    void* b = allocZeroed(1);
    {
        Recorder recorder;
        EXPECT_EQ(allocZeroed(1), nullptr);
    }
    void* d = allocZeroed(1);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
    EXPECT_NE(d, nullptr);
    EXPECT_EQ(fault::count(fault::Kind::Alloc), 4);
    EXPECT_EQ(fault::injected(fault::Kind::Alloc), 1);
    freeIfSet(a);
    freeIfSet(b);
    freeIfSet(d);
}

TEST(FaultInjection, PersistentPlanFailsEveryLaterOperation) {
    Recorder recorder;
    fault::Scope faults;
    fault::failAt(fault::Kind::Alloc, 2, true);
    void* a = allocZeroed(1);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(allocZeroed(1), nullptr);
    EXPECT_EQ(allocZeroed(1), nullptr);
    EXPECT_EQ(fault::injected(fault::Kind::Alloc), 2);
    freeIfSet(a);
}
