// The clipboard as the library uses it: the rules of the in-process
// clipboard, what copyToClipboard places there, and the hand-off to the
// desktop's tool (fake tools here; the real X11 one is in x11_test.cpp).
#include <cerrno>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

#include "native/VornNative.h"
#include "platform/clipboard.h"
#include "platform/fault.h"
#include "platform/global_memory.h"
#include "tests/common/test_support.h"
#include "tests/desktop/desktop_support.h"

using desktop_testing::ScopedEnv;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::TempDir;

namespace {

// What the clipboard holds as CF_TEXT, all bytes of the block.
bool clipboardText(std::string& bytes) {
    if (!OpenClipboard(GetActiveWindow())) return false;
    HANDLE block = GetClipboardData(CF_TEXT);
    bool found = block != nullptr;
    if (found) {
        const char* data = static_cast<const char*>(GlobalLock(block));
        bytes.assign(data, GlobalSize(block));
        GlobalUnlock(block);
    }
    CloseClipboard();
    return found;
}

std::int32_t copy(const std::string& text) {
    vm::LocalString string(text.data(), text.size());
    return VornNative_copyToClipboard(0, string.handle());
}

class ClipboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        clipboard_testing::releaseOtherOwner();
        ASSERT_TRUE(OpenClipboard(GetActiveWindow()));
        EmptyClipboard();
        CloseClipboard();
    }
    void TearDown() override { clipboard_testing::releaseOtherOwner(); }

    // No desktop unless a test sets one.
    ScopedEnv noX{"DISPLAY", nullptr};
    ScopedEnv noWayland{"WAYLAND_DISPLAY", nullptr};
    fault::Scope faults;
};

TEST_F(ClipboardTest, TextOfEveryLengthArrivesWholeWithItsZero) {
    const std::size_t lengths[] = {0, 1, 262143, 262144, 262145, 1u << 20};
    for (std::size_t length : lengths) {
        std::string text(length, 'x');
        for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
        ASSERT_EQ(copy(text), 1) << length;
        std::string held;
        ASSERT_TRUE(clipboardText(held)) << length;
        EXPECT_EQ(held, text + '\0') << length;
    }
}

TEST_F(ClipboardTest, EmptyTextIsOneZeroByte) {
    ASSERT_EQ(copy(""), 1);
    std::string held;
    ASSERT_TRUE(clipboardText(held));
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0], '\0');
}

TEST_F(ClipboardTest, NonAsciiBytesArePassedUnchanged) {
    const std::string text = "Gr\xC3\xBC\xC3\x9F" "e, \xE6\x97\xA5\xE6\x9C\xAC \xD0\x94";
    ASSERT_EQ(copy(text), 1);
    std::string held;
    ASSERT_TRUE(clipboardText(held));
    EXPECT_EQ(held, text + '\0');
}

TEST_F(ClipboardTest, HeldOpenByAnotherOwnerGivesZeroAndKeepsTheContent) {
    ASSERT_EQ(copy("first"), 1);
    clipboard_testing::holdOpenByOtherOwner();
    EXPECT_FALSE(OpenClipboard(GetActiveWindow()));
    long allocations = fault::count(fault::Kind::Alloc);
    EXPECT_EQ(copy("second"), 0);
    // The conversion buffer only: no clipboard block was made.
    EXPECT_EQ(fault::count(fault::Kind::Alloc), allocations + 1);
    clipboard_testing::releaseOtherOwner();
    std::string held;
    ASSERT_TRUE(clipboardText(held));
    EXPECT_EQ(held, std::string("first") + '\0');
}

TEST_F(ClipboardTest, FailuresLeaveTheClipboardAsEachOneShould) {
    struct Case {
        const char* what;
        fault::Kind kind;
        long nth;
        bool keepsOld;  // false: emptied
    };
    const Case cases[] = {
        {"conversion buffer", fault::Kind::Alloc, 1, true},
        {"opening", fault::Kind::Open, 1, true},
        {"clipboard block", fault::Kind::Alloc, 2, false},
    };
    for (const Case& c : cases) {
        fault::reset();
        ASSERT_EQ(copy("old text"), 1);
        fault::failAt(c.kind, c.nth);
        EXPECT_EQ(copy("new text"), 0) << c.what;
        EXPECT_EQ(fault::injected(c.kind), 1) << c.what;
        fault::reset();
        std::string held;
        if (c.keepsOld) {
            ASSERT_TRUE(clipboardText(held)) << c.what;
            EXPECT_EQ(held, std::string("old text") + '\0') << c.what;
        } else {
            EXPECT_FALSE(clipboardText(held)) << c.what;
        }
        // The clipboard was closed again: it opens.
        ASSERT_TRUE(OpenClipboard(GetActiveWindow())) << c.what;
        CloseClipboard();
    }
}

// Each block handed over is freed by the clipboard when replaced: the
// sanitizer build reports a leak or a double free if either side gets it
// wrong.
TEST_F(ClipboardTest, TheClipboardOwnsAndFreesTheBlocks) {
    for (int i = 0; i < 50; ++i) ASSERT_EQ(copy("text number " + std::to_string(i)), 1);
    EXPECT_EQ(clipboard_testing::heldBlocks(), 1);
    ASSERT_TRUE(OpenClipboard(GetActiveWindow()));
    HANDLE block = GetClipboardData(CF_TEXT);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalSize(block), std::strlen("text number 49") + 1);
    ASSERT_TRUE(EmptyClipboard());
    EXPECT_EQ(clipboard_testing::heldBlocks(), 0);
    EXPECT_EQ(GetClipboardData(CF_TEXT), nullptr);
    CloseClipboard();
}

TEST_F(ClipboardTest, RulesOfTheClipboardItself) {
    HGLOBAL block = GlobalAlloc(GMEM_DDESHARE, 4);
    ASSERT_NE(block, nullptr);
    // Not open: refused, the block stays ours.
    EXPECT_EQ(SetClipboardData(CF_TEXT, block), nullptr);
    EXPECT_FALSE(EmptyClipboard());
    EXPECT_FALSE(CloseClipboard());
    // Opened without an owner: emptying leaves no owner, and data is refused.
    ASSERT_TRUE(OpenClipboard(nullptr));
    ASSERT_TRUE(EmptyClipboard());
    EXPECT_EQ(SetClipboardData(CF_TEXT, block), nullptr);
    CloseClipboard();
    // Open for one window: another cannot open it until it is closed.
    HWND other = reinterpret_cast<HWND>(static_cast<std::intptr_t>(0x1234));
    ASSERT_TRUE(OpenClipboard(GetActiveWindow()));
    EXPECT_FALSE(OpenClipboard(other));
    ASSERT_TRUE(CloseClipboard());
    EXPECT_TRUE(OpenClipboard(other));
    CloseClipboard();
    EXPECT_EQ(GlobalFree(block), nullptr);
}

// A fake desktop tool that records its arguments and its input.
class HandOffTest : public ClipboardTest {
protected:
    void makeTool(const std::string& name, const std::string& behaviour = "") {
        std::string record = dir.file("record");
        ASSERT_TRUE(desktop_testing::writeScript(
            dir.file("bin/" + name),
            "#!/bin/sh\n" + behaviour + "printf '%s\\n' \"$0\" \"$@\" > '" + record + ".args'\n/bin/cat > '" + record +
                ".input'\n"));
    }
    std::string args() const { return readFile(dir.file("record.args")); }
    std::string input() const { return readFile(dir.file("record.input")); }

    TempDir dir;
    bool made = mkdir(dir.file("bin").c_str(), 0755) == 0;
    ScopedEnv path{"PATH", dir.file("bin").c_str()};
};

TEST_F(HandOffTest, EachDesktopGetsItsToolWithTheTextOnItsInput) {
    struct Case {
        const char* display;
        const char* wayland;
        const char* tool;
        const char* arguments;
    };
    const Case cases[] = {
        {":77", nullptr, "xclip", "-selection\nclipboard\n-in\n"},
        {":77", nullptr, "xsel", "--clipboard\n--input\n"},
        {nullptr, "wayland-7", "wl-copy", "--type\ntext/plain;charset=utf-8\n"},
        {":77", "wayland-7", "wl-copy", "--type\ntext/plain;charset=utf-8\n"},
    };
    const std::string text = "a;b $(touch pwned) `touch pwned` 'q' \"d\" | & \xC3\xA9\n2nd line";
    for (const Case& c : cases) {
        testing_support::run("/bin/rm -f '" + dir.file("bin") + "'/* '" + dir.file("record") + "'.*");
        makeTool(c.tool);
        ScopedEnv x("DISPLAY", c.display);
        ScopedEnv w("WAYLAND_DISPLAY", c.wayland);
        ASSERT_EQ(copy(text), 1) << c.tool;
        EXPECT_EQ(args(), dir.file("bin/") + c.tool + "\n" + c.arguments) << c.tool;
        EXPECT_EQ(input(), text) << c.tool;
    }
    EXPECT_FALSE(fileExists(dir.file("pwned")));
    EXPECT_FALSE(fileExists(dir.file("bin/pwned")));
}

TEST_F(HandOffTest, NoDesktopStartsNoTool) {
    makeTool("xclip");
    makeTool("wl-copy");
    ASSERT_EQ(copy("text"), 1);
    EXPECT_FALSE(fileExists(dir.file("record.args")));
    ScopedEnv emptyDisplay("DISPLAY", "");
    ASSERT_EQ(copy("text"), 1);
    EXPECT_FALSE(fileExists(dir.file("record.args")));
}

TEST_F(HandOffTest, AHandOffThatCannotStartKeepsTheTextHere) {
    makeTool("xclip");
    ScopedEnv x("DISPLAY", ":77");
    fault::failAt(fault::Kind::Open, 2);  // the first open is the clipboard's
    ASSERT_EQ(copy("kept"), 1);
    EXPECT_EQ(fault::injected(fault::Kind::Open), 1);
    EXPECT_FALSE(fileExists(dir.file("record.args")));
    std::string held;
    ASSERT_TRUE(clipboardText(held));
    EXPECT_EQ(held, std::string("kept") + '\0');
}

TEST_F(HandOffTest, ADesktopWithoutItsToolKeepsTheTextHere) {
    ScopedEnv x("DISPLAY", ":77");
    ASSERT_EQ(copy("kept"), 1);
    std::string held;
    ASSERT_TRUE(clipboardText(held));
    EXPECT_EQ(held, std::string("kept") + '\0');
}

// The text stops at its zero byte for the desktop, as CF_TEXT does.
TEST_F(HandOffTest, TheDesktopGetsTheTextUpToItsZero) {
    makeTool("xclip");
    ScopedEnv x("DISPLAY", ":77");
    ASSERT_EQ(copy(std::string("before\0after", 12)), 1);
    EXPECT_EQ(input(), "before");
}

// A tool that never reads and never ends is killed after a bounded wait;
// the call still succeeds for the in-process clipboard.
TEST_F(HandOffTest, AToolThatHangsIsNotWaitedForEndlessly) {
    std::string pidFile = dir.file("tool.pid");
    ASSERT_TRUE(desktop_testing::writeScript(dir.file("bin/xclip"),
                                             "#!/bin/sh\necho $$ > '" + pidFile + "'\nexec /bin/sleep 600\n"));
    ScopedEnv x("DISPLAY", ":77");
    ASSERT_EQ(copy(std::string(1u << 20, 'h')), 1);
    ASSERT_TRUE(fileExists(pidFile));
    pid_t tool = static_cast<pid_t>(std::stol(readFile(pidFile)));
    EXPECT_NE(kill(tool, 0), 0);
    EXPECT_EQ(errno, ESRCH);
    std::string held;
    ASSERT_TRUE(clipboardText(held));
    EXPECT_EQ(held.size(), (1u << 20) + 1);
}

}  // namespace
