#include "java/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
    std::vector<std::uint16_t> utf16;
    std::string utf8;  // empty with ok false: refused
    bool ok;
};

TEST(Utf8Text, ConvertsEveryEncodingLengthAndRefusesUnpairedSurrogates) {
    const Case cases[] = {
        {{}, "", true},
        {{'a', 'b'}, "ab", true},
        {{0x0000}, std::string(1, '\0'), true},  // a real zero byte, not C0 80
        {{0x007F}, "\x7F", true},
        {{0x0080}, "\xC2\x80", true},
        {{0x00FC}, "\xC3\xBC", true},
        {{0x07FF}, "\xDF\xBF", true},
        {{0x0800}, "\xE0\xA0\x80", true},
        {{0x6771, 0x4EAC}, "\xE6\x9D\xB1\xE4\xBA\xAC", true},
        {{0xFFFF}, "\xEF\xBF\xBF", true},
        {{0xD800, 0xDC00}, "\xF0\x90\x80\x80", true},  // U+10000
        {{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80", true},  // U+1F600
        {{0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF", true},  // U+10FFFF
        {{0xD800}, "", false},
        {{'x', 0xDBFF}, "", false},
        {{0xDC00, 'x'}, "", false},
        {{0xDE00, 0xD83D}, "", false},
        {{0xD800, 0xD800, 0xDC00}, "", false},
        {{0xD800, 'x', 0xDC00}, "", false},
    };
    for (const Case& c : cases) {
        Utf8Text text;
        int result = text.convert(c.utf16.data(), c.utf16.size());
        SCOPED_TRACE(c.utf8);
        ASSERT_EQ(c.ok ? 1 : 0, result);
        if (!c.ok) {
            EXPECT_EQ(nullptr, text.bytes());
            EXPECT_EQ(0u, text.size());
            continue;
        }
        ASSERT_NE(nullptr, text.bytes());
        EXPECT_EQ(c.utf8, std::string(text.bytes(), text.size()));
        EXPECT_EQ('\0', text.bytes()[text.size()]);
    }
}

TEST(Utf8Text, ARefusalDropsWhatAnEarlierConversionHeld) {
    Utf8Text text;
    const std::uint16_t good[] = {'o', 'k'};
    const std::uint16_t bad[] = {0xD800};
    ASSERT_EQ(1, text.convert(good, 2));
    ASSERT_EQ(0, text.convert(bad, 1));
    EXPECT_EQ(nullptr, text.bytes());
    EXPECT_EQ(0u, text.size());
}

}  // namespace
