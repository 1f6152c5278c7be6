// showFile end to end over an association made here: the program gets the
// file name whole, starts in the Windows directory, and the caller's current
// directory is the same afterwards.
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "native/VornNative.h"
#include "platform/fault.h"
#include "tests/common/test_support.h"
#include "tests/desktop/desktop_support.h"

using desktop_testing::currentDirectory;
using desktop_testing::Recorder;
using desktop_testing::ScopedEnv;
using desktop_testing::writeTree;
using desktop_testing::XdgTree;
using testing_support::fileExists;
using testing_support::TempDir;

namespace {

std::int32_t showFile(const std::string& directory, const std::string& file) {
    vm::LocalString d(directory.c_str());
    vm::LocalString f(file.c_str());
    return VornNative_showFile(0, d.handle(), f.handle());
}

class ShowFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(recorder.make(xdg.bin + "/vorn-record", dir.file("out")));
        ASSERT_TRUE(xdg.glob("50:application/x-vorn-test:*.vorntest"));
        ASSERT_TRUE(xdg.entry("vorn-record.desktop", "vorn-record %f"));
        ASSERT_TRUE(writeTree(xdg.config + "/mimeapps.list",
                              "[Default Applications]\napplication/x-vorn-test=vorn-record.desktop;\n"));
        ASSERT_TRUE(desktop_testing::makeDirs(docs));
        start = currentDirectory();
    }
    void TearDown() override { EXPECT_EQ(chdir(start.c_str()), 0); }

    // No file of the test's tree was made by a command hidden in a name.
    void expectNoCommandRan() {
        std::string found;
        testing_support::run("find '" + dir.path() + "' -name 'home-pwned*'", &found);
        EXPECT_EQ(found, "");
    }

    TempDir dir;
    XdgTree xdg{dir.file("xdg")};
    std::string docs = dir.file("my docs;touch $HOME-pwned4 $(touch $HOME-pwned5)");
    Recorder recorder;
    std::string start;
    std::vector<std::string> args;
    std::string cwd;
};

TEST_F(ShowFileTest, TheProgramGetsTheNameWholeInTheWindowsDirectory) {
    // $HOME expands to a path in the test's tree, so a command that ran
    // would leave a file there.
    const std::string names[] = {
        "plain.vorntest",
        "two  blanks .vorntest",
        "a;touch $HOME-pwned;.vorntest",
        "$(touch $HOME-pwned2) `touch $HOME-pwned3`.vorntest",
        "'q' \"dq\" & | > x \\ %f %s.vorntest",
    };
    for (const std::string& name : names) {
        recorder.clear();
        std::string path = docs + "/" + name;
        ASSERT_TRUE(testing_support::writeFile(path, "x")) << name;
        ASSERT_EQ(chdir(docs.c_str()), 0);
        ASSERT_EQ(showFile(docs, path), 1) << name;
        EXPECT_EQ(currentDirectory(), docs) << name;
        ASSERT_TRUE(recorder.wait(args, cwd)) << name;
        EXPECT_EQ(args, std::vector<std::string>{path}) << name;
        EXPECT_EQ(cwd, "/") << name;
    }
    expectNoCommandRan();
}

TEST_F(ShowFileTest, ANameRelativeToTheDirectoryIsFound) {
    ASSERT_TRUE(testing_support::writeFile(docs + "/rel.vorntest", "x"));
    ASSERT_EQ(showFile(docs, "rel.vorntest"), 1);
    ASSERT_TRUE(recorder.wait(args, cwd));
    // Passed exactly as given.
    EXPECT_EQ(args, std::vector<std::string>{"rel.vorntest"});
}

TEST_F(ShowFileTest, ALongCurrentDirectoryIsRestoredUncut) {
    std::string deep = dir.path();
    while (deep.size() < 700) deep += "/" + std::string(60, 'd');
    ASSERT_TRUE(desktop_testing::makeDirs(deep));
    ASSERT_EQ(chdir(deep.c_str()), 0);
    std::string path = docs + "/long.vorntest";
    ASSERT_TRUE(testing_support::writeFile(path, "x"));
    ASSERT_EQ(showFile(docs, path), 1);
    EXPECT_EQ(currentDirectory(), deep);
    ASSERT_TRUE(recorder.wait(args, cwd));
    EXPECT_EQ(cwd, "/");
}

// A current directory that cannot be read cannot be restored: the caller is
// not moved, and the program starts where the caller is.
TEST_F(ShowFileTest, ACurrentDirectoryThatCannotBeSavedIsNotLeft) {
    std::string gone = dir.file("gone");
    ASSERT_TRUE(desktop_testing::makeDirs(gone));
    ASSERT_EQ(chdir(gone.c_str()), 0);
    struct stat before;
    ASSERT_EQ(stat(".", &before), 0);
    ASSERT_EQ(rmdir(gone.c_str()), 0);
    std::string path = docs + "/x.vorntest";
    ASSERT_TRUE(testing_support::writeFile(path, "x"));
    ASSERT_EQ(showFile(docs, path), 1);
    struct stat after;
    ASSERT_EQ(stat(".", &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_dev, before.st_dev);
    ASSERT_TRUE(recorder.wait(args, cwd));
    EXPECT_EQ(args, std::vector<std::string>{path});
    EXPECT_NE(cwd, "/");
}

TEST_F(ShowFileTest, NothingIsStartedWithoutAProgram) {
    struct Case {
        const char* what;
        std::string directory;
        std::string file;
    };
    ASSERT_TRUE(testing_support::writeFile(docs + "/other.zzz", "x"));
    ASSERT_TRUE(testing_support::writeFile(docs + "/x.vorntest", "x"));
    std::string longName = std::string(300, 'n') + ".vorntest";
    const Case cases[] = {
        {"no association", docs, docs + "/other.zzz"},
        {"missing file", docs, docs + "/missing.vorntest"},
        {"empty file name", docs, ""},
        {"file name over 255 bytes", docs, docs + "/" + longName},
        {"directory over 255 bytes", "/" + std::string(300, 'd'), docs + "/x.vorntest"},
    };
    ASSERT_EQ(chdir(docs.c_str()), 0);
    for (const Case& c : cases) {
        EXPECT_EQ(showFile(c.directory, c.file), 0) << c.what;
        EXPECT_EQ(currentDirectory(), docs) << c.what;
    }
    // The look-up left no program: nothing at all was started, so the one
    // start that follows is the only record.
    ASSERT_EQ(showFile(docs, docs + "/x.vorntest"), 1);
    ASSERT_TRUE(recorder.wait(args, cwd));
    EXPECT_EQ(args, std::vector<std::string>{docs + "/x.vorntest"});
}

TEST_F(ShowFileTest, AStartThatFailsGivesZero) {
    ASSERT_TRUE(testing_support::writeFile(xdg.bin + "/not-a-program", std::string("\x7f\x01\x02garbage", 10)));
    ASSERT_EQ(chmod((xdg.bin + "/not-a-program").c_str(), 0755), 0);
    ASSERT_TRUE(xdg.entry("vorn-record.desktop", "not-a-program %f"));
    ASSERT_TRUE(testing_support::writeFile(docs + "/x.vorntest", "x"));
    ASSERT_EQ(chdir(docs.c_str()), 0);
    EXPECT_EQ(showFile(docs, docs + "/x.vorntest"), 0);
    EXPECT_EQ(currentDirectory(), docs);
}

TEST_F(ShowFileTest, AnEmptyDirectoryHandsTheFileToXdgOpen) {
    Recorder opener;
    ASSERT_TRUE(opener.make(xdg.bin + "/xdg-open", dir.file("opened")));
    const std::string name = "a b;touch $HOME-pwned $(touch $HOME-pwned2).vorntest";
    std::string path = docs + "/" + name;
    ASSERT_TRUE(testing_support::writeFile(path, "x"));
    ASSERT_EQ(chdir(docs.c_str()), 0);
    ASSERT_EQ(showFile("", path), 1);
    ASSERT_TRUE(opener.wait(args, cwd));
    EXPECT_EQ(args, std::vector<std::string>{path});
    EXPECT_EQ(cwd, docs);
    EXPECT_EQ(currentDirectory(), docs);
    // The association is not consulted on that path.
    EXPECT_FALSE(fileExists(recorder.argsFile));

    opener.clear();
    ASSERT_EQ(showFile("", name), 1);
    ASSERT_TRUE(opener.wait(args, cwd));
    EXPECT_EQ(args, std::vector<std::string>{"./" + name});
    EXPECT_EQ(showFile("", docs + "/missing"), 0);
    fault::Scope faults;
    fault::failAt(fault::Kind::Open, 1);
    opener.clear();
    EXPECT_EQ(showFile("", path), 0);
    EXPECT_EQ(fault::injected(fault::Kind::Open), 1);
    expectNoCommandRan();
}

TEST_F(ShowFileTest, TheVornCommandShowsAFile) {
    std::string path = docs + "/cli $(touch $HOME-pwned).vorntest";
    ASSERT_TRUE(testing_support::writeFile(path, "x"));
    EXPECT_EQ(desktop_testing::runProgram({testing_support::buildPath("vorn"), "show-file", docs, path}), 0);
    ASSERT_TRUE(recorder.wait(args, cwd));
    EXPECT_EQ(args, std::vector<std::string>{path});
    EXPECT_EQ(cwd, "/");
    EXPECT_EQ(desktop_testing::runProgram({testing_support::buildPath("vorn"), "show-file", docs, docs + "/none.zzz"}), 1);
    expectNoCommandRan();
}

}  // namespace
