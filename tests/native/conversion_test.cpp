#include <gtest/gtest.h>

#include <cstring>

#include "native/conversion.h"
#include "tests/common/test_support.h"

namespace {

std::string converted(const std::string& name, int* result = nullptr) {
    vm::LocalString string(name.data(), name.size());
    NameBuffer buffer;
    std::memset(buffer, 'x', sizeof buffer);
    int got = convertName(string.handle(), buffer);
    if (result != nullptr) *result = got;
    EXPECT_LT(std::strlen(buffer), sizeof buffer);
    return buffer;
}

}  // namespace

TEST(VmStrings, LengthAndConversionOfOneByteCharacters) {
    vm::LocalString string("Grüße.gif");  // UTF-8: the bytes pass as they are
    EXPECT_EQ(javaStringLength(string.handle()), 11);
    char buffer[6];
    javaString2CString(string.handle(), buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "Gr\xc3\xbc\xc3");  // at most size - 1 characters and the zero
    EXPECT_EQ(javaStringLength(0), 0);
}

TEST(VmArrays, LayoutOfTheBlock) {
    vm::IntArray ints(3);
    ints.elements()[2] = -7;
    const auto* block = reinterpret_cast<const std::uint8_t*>(ints.handle());
    std::int32_t length;
    std::memcpy(&length, block + 4, 4);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(vm::arrayLength(ints.handle()), 3);
    EXPECT_EQ(vm::intElements(ints.handle())[2], -7);
    EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(vm::intElements(ints.handle())), block + 8);

    vm::LocalString a("a"), b("b");
    vm::Handle handles[] = {a.handle(), b.handle()};
    vm::StringArray strings(handles, 2);
    EXPECT_EQ(vm::arrayLength(strings.handle()), 2);
    EXPECT_EQ(vm::stringElement(strings.handle(), 1), b.handle());
}

TEST(ConvertName, NamesUpTo255BytesPassWhole) {
    struct Case {
        std::string name;
        int result;
    };
    const Case cases[] = {
        {"", 1},
        {"picture.gif", 1},
        {"dir with blanks/it's; $(rm -rf x).gif", 1},
        {"Fichier été.wav", 1},
        {std::string(255, 'n'), 1},
    };
    for (const Case& c : cases) {
        int result = -1;
        EXPECT_EQ(converted(c.name, &result), c.name);
        EXPECT_EQ(result, c.result) << c.name;
    }
}

// A name cut to 255 bytes could name a different file: it is refused.
TEST(ConvertName, LongerNamesAreRefusedNotCut) {
    for (std::size_t length : {256u, 300u, 5000u}) {
        int result = -1;
        EXPECT_EQ(converted(std::string(length, 'a'), &result), "");
        EXPECT_EQ(result, 0) << length;
    }
}

TEST(ConvertName, AZeroByteInsideOrANullHandleIsRefused) {
    int result = -1;
    EXPECT_EQ(converted(std::string("a.gif\0.txt", 10), &result), "");
    EXPECT_EQ(result, 0);
    NameBuffer buffer;
    EXPECT_EQ(convertName(0, buffer), 0);
    EXPECT_STREQ(buffer, "");
}

TEST(EntryList, CopiesEveryEntryWholeInOrder) {
    std::string longEntry(1000, 'e');
    vm::LocalString a("a.gif"), plus("+"), big(longEntry.c_str()), empty("");
    vm::Handle handles[] = {a.handle(), plus.handle(), big.handle(), empty.handle()};
    vm::StringArray array(handles, 4);
    EntryList list;
    ASSERT_EQ(list.convert(array.handle()), 1);
    ASSERT_EQ(list.count(), 4);
    EXPECT_STREQ(list.entries()[0], "a.gif");
    EXPECT_STREQ(list.entries()[1], "+");
    EXPECT_EQ(std::string(list.entries()[2]), longEntry);
    EXPECT_STREQ(list.entries()[3], "");
}

TEST(EntryList, EmptyArrayGivesNoEntries) {
    vm::StringArray array(nullptr, 0);
    EntryList list;
    EXPECT_EQ(list.convert(array.handle()), 1);
    EXPECT_EQ(list.count(), 0);
}

TEST(EntryList, NullsAndZeroBytesAreRefused) {
    EntryList list;
    EXPECT_EQ(list.convert(0), 0);
    vm::LocalString a("a");
    vm::Handle withNull[] = {a.handle(), 0};
    vm::StringArray nulls(withNull, 2);
    EXPECT_EQ(list.convert(nulls.handle()), 0);
    EXPECT_EQ(list.count(), 0);
    vm::LocalString zero(std::string("a\0b", 3).c_str(), 3);
    vm::Handle withZero[] = {zero.handle()};
    vm::StringArray zeros(withZero, 1);
    EXPECT_EQ(list.convert(zeros.handle()), 0);
}

// Every allocation of the list can fail; nothing leaks (LeakSanitizer) and the list is empty.
TEST(EntryList, EveryAllocationFailureIsReported) {
    vm::LocalString a("a"), b("bb"), c("ccc");
    vm::Handle handles[] = {a.handle(), b.handle(), c.handle()};
    vm::StringArray array(handles, 3);
    for (int failing = 1; failing <= 4; ++failing) {
        fault::Scope faults;
        fault::failAt(fault::Kind::Alloc, failing);
        EntryList list;
        EXPECT_EQ(list.convert(array.handle()), 0) << failing;
        EXPECT_EQ(list.count(), 0);
    }
}
