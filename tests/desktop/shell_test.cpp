// The shell stand-ins: the association look-up over an XDG tree made here,
// the start of a command line, the default action and the Windows directory.
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

#include "platform/fault.h"
#include "platform/shell.h"
#include "tests/common/test_support.h"
#include "tests/desktop/desktop_support.h"

using desktop_testing::Recorder;
using desktop_testing::ScopedEnv;
using desktop_testing::writeTree;
using desktop_testing::XdgTree;
using testing_support::fileExists;
using testing_support::TempDir;

namespace {

std::intptr_t code(HINSTANCE result) { return reinterpret_cast<std::intptr_t>(result); }

class AssociationTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"progA", "progB", "progC"}) ASSERT_TRUE(xdg.program(name));
        ASSERT_TRUE(xdg.entry("a.desktop", "progA %f"));
        ASSERT_TRUE(xdg.entry("b.desktop", "progB %U"));
        ASSERT_TRUE(xdg.entry("c.desktop", xdg.bin + "/progC"));
        ASSERT_TRUE(testing_support::writeFile(dir.file("doc.vt"), "x"));
    }

    // The program found for a file in dir, or "error N".
    std::string find(const std::string& file) {
        char result[findExecutableResultSize];
        std::memset(result, 'z', sizeof result);
        std::intptr_t value = code(FindExecutableA(file.c_str(), dir.path().c_str(), result));
        if (value <= 32) {
            EXPECT_EQ(result[0], '\0');
            return "error " + std::to_string(value);
        }
        return result;
    }
    bool defaults(const std::string& text, const std::string& file = "") {
        return writeTree(file.empty() ? xdg.config + "/mimeapps.list" : file, "[Default Applications]\n" + text);
    }
    std::string prog(const char* name) const { return xdg.bin + "/" + name; }

    TempDir dir;
    XdgTree xdg{dir.file("xdg")};
};

TEST_F(AssociationTest, DefaultApplicationIsResolvedOnPath) {
    ASSERT_TRUE(xdg.glob("50:application/x-vt:*.vt"));
    ASSERT_TRUE(defaults("application/x-vt=a.desktop;\n"));
    EXPECT_EQ(find("doc.vt"), prog("progA"));
    EXPECT_EQ(find(dir.file("doc.vt")), prog("progA"));
}

TEST_F(AssociationTest, GlobRulesPickTheType) {
    ASSERT_TRUE(defaults("type/short=a.desktop\ntype/long=b.desktop\ntype/heavy=c.desktop\ntype/exact=b.desktop\n"));
    ASSERT_TRUE(xdg.glob("50:type/short:*.vt"));
    ASSERT_TRUE(xdg.glob("50:type/long:*.tar.vt"));
    ASSERT_TRUE(xdg.glob("60:type/heavy:*.heavy"));
    ASSERT_TRUE(xdg.glob("40:type/long:*.x.heavy"));
    ASSERT_TRUE(xdg.glob("50:type/exact:*.CS:cs"));
    struct Case {
        const char* name;
        const char* program;
    };
    const Case cases[] = {
        {"doc.vt", "progA"},         // the one pattern
        {"doc.tar.vt", "progB"},     // the longer pattern at the same weight
        {"doc.x.heavy", "progC"},    // the higher weight over the longer pattern
        {"DOC.VT", "progA"},         // case folded
        {"doc.CS", "progB"},         // case-sensitive pattern
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(testing_support::writeFile(dir.file(c.name), "x"));
        EXPECT_EQ(find(c.name), prog(c.program)) << c.name;
    }
    ASSERT_TRUE(testing_support::writeFile(dir.file("doc.cs"), "x"));
    EXPECT_EQ(find("doc.cs"), "error 31");
}

TEST_F(AssociationTest, AMoreImportantDirectoryCanWithdrawGlobs) {
    ASSERT_TRUE(defaults("type/old=a.desktop\ntype/new=b.desktop\n"));
    ASSERT_TRUE(xdg.glob("50:type/old:*.vt", xdg.systemData));
    EXPECT_EQ(find("doc.vt"), prog("progA"));
    ASSERT_TRUE(xdg.glob("50:type/old:__NOGLOBS__"));
    EXPECT_EQ(find("doc.vt"), "error 31");
    ASSERT_TRUE(xdg.glob("50:type/new:*.vt"));
    EXPECT_EQ(find("doc.vt"), prog("progB"));
}

TEST_F(AssociationTest, ListsAreReadInTheirOrder) {
    ASSERT_TRUE(xdg.glob("50:type/vt:*.vt"));
    ASSERT_TRUE(defaults("type/vt=c.desktop\n", xdg.systemData + "/applications/mimeapps.list"));
    EXPECT_EQ(find("doc.vt"), prog("progC"));
    ASSERT_TRUE(defaults("type/vt=b.desktop\n", xdg.data + "/applications/mimeapps.list"));
    EXPECT_EQ(find("doc.vt"), prog("progB"));
    ASSERT_TRUE(defaults("type/vt=a.desktop\n", xdg.systemConfig + "/mimeapps.list"));
    EXPECT_EQ(find("doc.vt"), prog("progA"));
    // A missing entry is passed over for the next one.
    ASSERT_TRUE(defaults("type/vt=missing.desktop;c.desktop\n"));
    EXPECT_EQ(find("doc.vt"), prog("progC"));
    ASSERT_TRUE(defaults("type/vt=b.desktop\n", xdg.config + "/lab-mimeapps.list"));
    ScopedEnv desktop("XDG_CURRENT_DESKTOP", "Office:LAB");
    EXPECT_EQ(find("doc.vt"), prog("progB"));
}

TEST_F(AssociationTest, AddedRemovedAndCachedAssociations) {
    ASSERT_TRUE(xdg.glob("50:type/vt:*.vt"));
    ASSERT_TRUE(writeTree(xdg.systemData + "/applications/mimeinfo.cache", "[MIME Cache]\ntype/vt=c.desktop;\n"));
    EXPECT_EQ(find("doc.vt"), prog("progC"));
    ASSERT_TRUE(writeTree(xdg.data + "/applications/mimeapps.list", "[Added Associations]\ntype/vt=a.desktop;b.desktop;\n"));
    EXPECT_EQ(find("doc.vt"), prog("progA"));
    ASSERT_TRUE(writeTree(xdg.config + "/mimeapps.list", "[Removed Associations]\ntype/vt=a.desktop;c.desktop\n"));
    EXPECT_EQ(find("doc.vt"), prog("progB"));
    ASSERT_TRUE(writeTree(xdg.config + "/mimeapps.list", "[Removed Associations]\ntype/vt=a.desktop;b.desktop;c.desktop\n"));
    EXPECT_EQ(find("doc.vt"), "error 31");
}

TEST_F(AssociationTest, WithoutACacheTheEntriesTypesAreRead) {
    ASSERT_TRUE(xdg.glob("50:type/vt:*.vt"));
    ASSERT_TRUE(xdg.entry("vendor/zz.desktop", "progC %f", "MimeType=type/other;type/vt;\n", xdg.systemData));
    EXPECT_EQ(find("doc.vt"), prog("progC"));
    ASSERT_TRUE(xdg.entry("m.desktop", "progB %f", "MimeType=type/vt\n", xdg.systemData));
    EXPECT_EQ(find("doc.vt"), prog("progB"));
    // A cache, where there is one, is what counts for its directory.
    ASSERT_TRUE(writeTree(xdg.systemData + "/applications/mimeinfo.cache", "[MIME Cache]\ntype/vt=vendor-zz.desktop;\n"));
    EXPECT_EQ(find("doc.vt"), prog("progC"));
}

TEST_F(AssociationTest, ParentTypeIsTheFallback) {
    ASSERT_TRUE(xdg.glob("50:type/child:*.vt"));
    ASSERT_TRUE(writeTree(xdg.data + "/mime/subclasses", "type/child type/middle\ntype/middle type/root\n"));
    ASSERT_TRUE(defaults("type/root=b.desktop\n"));
    EXPECT_EQ(find("doc.vt"), prog("progB"));
    ASSERT_TRUE(defaults("type/root=b.desktop\ntype/middle=c.desktop\n"));
    EXPECT_EQ(find("doc.vt"), prog("progC"));
}

TEST_F(AssociationTest, EntriesThatCannotTakeOneFileNameDoNotCount) {
    ASSERT_TRUE(xdg.glob("50:type/vt:*.vt"));
    struct Case {
        const char* what;
        std::string exec;
        std::string extra;
    };
    const Case cases[] = {
        {"wrapper with fixed arguments", "env FOO=1 progA %f", ""},
        {"interpreter with its script", "progA script.py %f", ""},
        {"shell command", "progA -c 'progB' %f", ""},
        {"hidden", "progA %f", "Hidden=true\n"},
        {"terminal program", "progA %f", "Terminal=true\n"},
        {"program missing", "noSuchProgram %f", ""},
        {"TryExec missing", "progA %f", "TryExec=noSuchProgram\n"},
        {"broken quoting", "\"progA %f", ""},
        {"field code as program", "%f", ""},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(xdg.entry("bad.desktop", c.exec, c.extra));
        ASSERT_TRUE(defaults("type/vt=bad.desktop;\n"));
        EXPECT_EQ(find("doc.vt"), "error 31") << c.what;
    }
    ASSERT_TRUE(writeTree(xdg.data + "/applications/link.desktop", "[Desktop Entry]\nType=Link\nExec=progA %f\n"));
    ASSERT_TRUE(defaults("type/vt=link.desktop;\n"));
    EXPECT_EQ(find("doc.vt"), "error 31");
    // Options are left out; a quoted program with a blank; a desktop ID with
    // a subdirectory.
    ASSERT_TRUE(xdg.entry("options.desktop", "progA --new-window -nostdin %u"));
    ASSERT_TRUE(defaults("type/vt=options.desktop;\n"));
    EXPECT_EQ(find("doc.vt"), prog("progA"));
    ASSERT_TRUE(xdg.program("prog D"));
    ASSERT_TRUE(xdg.entry("vendor/quoted.desktop", "\"" + xdg.bin + "/prog D\" %F %i %c %k"));
    ASSERT_TRUE(defaults("type/vt=vendor-quoted.desktop;\n"));
    EXPECT_EQ(find("doc.vt"), prog("prog D"));
}

TEST_F(AssociationTest, FileAndTypeFailures) {
    ASSERT_TRUE(xdg.glob("50:type/vt:*.vt"));
    ASSERT_TRUE(defaults("type/vt=a.desktop;\ninode/directory=c.desktop;\n"));
    EXPECT_EQ(find("missing.vt"), "error 2");
    EXPECT_EQ(find(""), "error 2");
    ASSERT_TRUE(testing_support::writeFile(dir.file("no-type.zzz"), "x"));
    EXPECT_EQ(find("no-type.zzz"), "error 31");
    ASSERT_TRUE(desktop_testing::makeDirs(dir.file("folder.vt")));
    EXPECT_EQ(find("folder.vt"), prog("progC"));
    fault::Scope faults;
    fault::failAt(fault::Kind::Open, 1);
    EXPECT_EQ(find("doc.vt"), "error 8");
    EXPECT_EQ(find("doc.vt"), prog("progA"));
}

class StartTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(desktop_testing::makeDirs(dir.file("bin")));
        ASSERT_TRUE(recorder.make(dir.file("bin/record"), dir.file("out")));
    }
    TempDir dir;
    Recorder recorder;
    std::vector<std::string> args;
    std::string cwd;
};

TEST_F(StartTest, WinExecPassesTheRestOfTheLineAsOneArgument) {
    const std::string rests[] = {"plain", "two  blanks and\ttab", "a;touch pwned", "$(touch pwned) `touch pwned`",
                                 "'single' \"double\" \\ | & > pwned", " leading blank"};
    for (const std::string& rest : rests) {
        recorder.clear();
        ASSERT_GT(WinExec((recorder.program + " " + rest).c_str(), SW_SHOWNORMAL), 31u) << rest;
        ASSERT_TRUE(recorder.wait(args, cwd)) << rest;
        ASSERT_EQ(args.size(), 1u) << rest;
        EXPECT_EQ(args[0], rest);
        EXPECT_EQ(cwd, desktop_testing::currentDirectory());
    }
    recorder.clear();
    ASSERT_GT(WinExec(recorder.program.c_str(), SW_SHOWNORMAL), 31u);
    ASSERT_TRUE(recorder.wait(args, cwd));
    EXPECT_TRUE(args.empty());
    EXPECT_FALSE(fileExists(dir.file("pwned")));
    EXPECT_FALSE(fileExists(desktop_testing::currentDirectory() + "/pwned"));
}

TEST_F(StartTest, WinExecTakesTheShortestPrefixThatIsAProgram) {
    ASSERT_TRUE(desktop_testing::makeDirs(dir.file("My Apps")));
    ASSERT_TRUE(recorder.make(dir.file("My Apps/record"), dir.file("out")));
    ASSERT_GT(WinExec((dir.file("My Apps/record") + " file name").c_str(), SW_SHOWNORMAL), 31u);
    ASSERT_TRUE(recorder.wait(args, cwd));
    EXPECT_EQ(args, std::vector<std::string>{"file name"});
    // An executable file named by a shorter prefix is the one started.
    Recorder shorter;
    ASSERT_TRUE(shorter.make(dir.file("My"), dir.file("short")));
    recorder.clear();
    ASSERT_GT(WinExec((dir.file("My Apps/record") + " file name").c_str(), SW_SHOWNORMAL), 31u);
    ASSERT_TRUE(shorter.wait(args, cwd));
    EXPECT_EQ(args, std::vector<std::string>{"Apps/record file name"});
}

TEST_F(StartTest, WinExecFailures) {
    EXPECT_EQ(WinExec((dir.file("bin/none") + " x").c_str(), SW_SHOWNORMAL), 2u);
    EXPECT_EQ(WinExec((dir.file("bin/record") + ";touch " + dir.file("pwned")).c_str(), SW_SHOWNORMAL), 2u);
    EXPECT_EQ(WinExec("", SW_SHOWNORMAL), 2u);
    ASSERT_TRUE(testing_support::writeFile(dir.file("bin/garbage"), std::string("\x01\x02\x03\x04garbage", 11)));
    ASSERT_EQ(chmod(dir.file("bin/garbage").c_str(), 0755), 0);
    EXPECT_EQ(WinExec((dir.file("bin/garbage") + " x").c_str(), SW_SHOWNORMAL), 11u);
    fault::Scope faults;
    fault::failAt(fault::Kind::Open, 1);
    EXPECT_EQ(WinExec(recorder.program.c_str(), SW_SHOWNORMAL), 0u);
    EXPECT_FALSE(fileExists(dir.file("pwned")));
    EXPECT_FALSE(fileExists(recorder.argsFile));
}

TEST_F(StartTest, ShellExecuteHandsTheFileToXdgOpen) {
    ASSERT_TRUE(recorder.make(dir.file("bin/xdg-open"), dir.file("out")));
    ScopedEnv path("PATH", dir.file("bin").c_str());
    ASSERT_TRUE(desktop_testing::makeDirs(dir.file("docs")));
    const std::string name = "-a name;touch pwned $(touch pwned).txt";
    ASSERT_TRUE(testing_support::writeFile(dir.file("docs/" + name), "x"));

    ASSERT_GT(code(ShellExecuteA(nullptr, nullptr, dir.file("docs/" + name).c_str(), nullptr, "", SW_SHOWNORMAL)), 32);
    ASSERT_TRUE(recorder.wait(args, cwd));
    EXPECT_EQ(args, std::vector<std::string>{dir.file("docs/" + name)});
    // A relative name is looked for in the directory, where xdg-open runs.
    recorder.clear();
    ASSERT_GT(code(ShellExecuteA(nullptr, "open", name.c_str(), nullptr, dir.file("docs").c_str(), SW_SHOWNORMAL)), 32);
    ASSERT_TRUE(recorder.wait(args, cwd));
    EXPECT_EQ(args, std::vector<std::string>{"./" + name});
    char real[4096];
    ASSERT_NE(realpath(dir.file("docs").c_str(), real), nullptr);
    EXPECT_EQ(cwd, real);

    EXPECT_EQ(code(ShellExecuteA(nullptr, nullptr, dir.file("docs/missing").c_str(), nullptr, "", 1)), 2);
    EXPECT_EQ(code(ShellExecuteA(nullptr, "print", dir.file("docs/" + name).c_str(), nullptr, "", 1)), 31);
    EXPECT_FALSE(fileExists(dir.file("pwned")));
    EXPECT_FALSE(fileExists(dir.file("docs/pwned")));
    ScopedEnv noOpener("PATH", dir.file("docs").c_str());
    EXPECT_EQ(code(ShellExecuteA(nullptr, nullptr, dir.file("docs/" + name).c_str(), nullptr, "", 1)), 31);
}

TEST(WindowsDirectory, IsTheRootAndAsksForRoomWhenTooSmall) {
    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(GetWindowsDirectoryA(buffer, 1), 2u);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 1u);
    EXPECT_STREQ(buffer, "/");
}

}  // namespace
