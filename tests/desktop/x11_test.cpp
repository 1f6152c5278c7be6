// The real X11 clipboard: a private Xvfb, the text placed by the vorn
// command or the export, read back by xclip as another program would.
#include <gtest/gtest.h>
#include <string>

#include "native/VornNative.h"
#include "tests/common/test_support.h"
#include "tests/desktop/desktop_support.h"

using desktop_testing::runProgram;
using desktop_testing::ScopedEnv;
using desktop_testing::XServer;

namespace {

class X11ClipboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!desktop_testing::onPath("xclip")) GTEST_SKIP() << "xclip is not installed: the X11 clipboard is not tested";
        server = std::make_unique<XServer>();
        if (!server->running()) GTEST_SKIP() << server->problem() << ": the X11 clipboard is not tested";
        display = std::make_unique<ScopedEnv>("DISPLAY", server->display().c_str());
    }

    std::string pasted() {
        std::string text;
        EXPECT_EQ(runProgram({"xclip", "-selection", "clipboard", "-o"}, &text), 0);
        return text;
    }

    static std::string sample(std::size_t length) {
        const std::string letters = "Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC \xD0\x94\xD0\xB0 caf\xC3\xA9 ;$(x)\n";
        std::string text;
        while (text.size() + letters.size() <= length) text += letters;
        return text + std::string(length - text.size(), 'z');
    }

    ScopedEnv noWayland{"WAYLAND_DISPLAY", nullptr};
    std::unique_ptr<XServer> server;
    std::unique_ptr<ScopedEnv> display;
};

TEST_F(X11ClipboardTest, TheVornCommandPlacesTextThatOutlivesIt) {
    testing_support::TempDir dir;
    const std::string texts[] = {"plain", "Gr\xC3\xBC\xC3\x9F" "e, \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E, \xD0\x94\xD0\xB0",
                                 "; touch " + dir.file("pwned") + " $(touch " + dir.file("pwned") + ")",
                                 sample(120000)};
    for (const std::string& text : texts) {
        ASSERT_EQ(runProgram({testing_support::buildPath("vorn"), "copy-to-clipboard", text}), 0);
        EXPECT_EQ(pasted(), text) << text.size();
    }
    EXPECT_FALSE(testing_support::fileExists(dir.file("pwned")));
}

// One argument of the command holds at most 128 KiB on Linux, so the long
// text goes through the export itself.
TEST_F(X11ClipboardTest, AMegabyteArrivesWhole) {
    std::string text = sample(1u << 20);
    vm::LocalString string(text.data(), text.size());
    ASSERT_EQ(VornNative_copyToClipboard(0, string.handle()), 1);
    std::string back = pasted();
    EXPECT_EQ(back.size(), text.size());
    EXPECT_TRUE(back == text);
}

TEST_F(X11ClipboardTest, ALaterCopyReplacesTheEarlierOne) {
    ASSERT_EQ(runProgram({testing_support::buildPath("vorn"), "copy-to-clipboard", "first"}), 0);
    ASSERT_EQ(runProgram({testing_support::buildPath("vorn"), "copy-to-clipboard", "second"}), 0);
    EXPECT_EQ(pasted(), "second");
}

}  // namespace
