#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "cabinet/cabinet_builder.h"
#include "native/VornNative.h"
#include "platform/fault.h"
#include "tests/cabinet/cabinet_test_support.h"
#include "tests/common/test_support.h"

using namespace cabinet_test;
using testing_support::TempDir;
using testing_support::buildPath;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::run;
using testing_support::writeFile;

namespace {

// Entries as the VM would pass them.
class Entries {
public:
    explicit Entries(const std::vector<std::string>& names) {
        for (const std::string& n : names) {
            strings.push_back(std::make_unique<vm::LocalString>(n.data(), n.size()));
            handles.push_back(strings.back()->handle());
        }
        array = std::make_unique<vm::StringArray>(handles.data(), static_cast<std::int32_t>(handles.size()));
    }
    vm::Handle handle() const { return array->handle(); }

private:
    std::vector<std::unique_ptr<vm::LocalString>> strings;
    std::vector<vm::Handle> handles;
    std::unique_ptr<vm::StringArray> array;
};

struct Made {
    int result;
    std::string printed;
};

Made makeCab(const std::string& dir, const std::string& name, const std::vector<std::string>& entries) {
    Entries list(entries);
    vm::LocalString directory(dir.c_str());
    vm::LocalString cabName(name.c_str());
    std::string before = currentDirectory();
    CapturedOutput output;
    int result = VornNative_makeCab(0, list.handle(), directory.handle(), cabName.handle());
    Made made{result, output.text()};
    EXPECT_EQ(currentDirectory(), before);
    return made;
}

// Runs buildCabinetInDirectory directly, for its error text.
Made build(const std::string& dir, const std::string& name, std::vector<std::string> entries, std::string* errorText) {
    std::vector<char*> list;
    for (std::string& e : entries) list.push_back(e.data());
    char text[errorTextSize];
    std::memset(text, 'x', sizeof text);
    text[0] = '\0';
    std::string before = currentDirectory();
    CapturedOutput output;
    int result = buildCabinetInDirectory(static_cast<std::int32_t>(list.size()), list.data(), dir.c_str(),
                                         name.c_str(), text);
    Made made{result, output.text()};
    EXPECT_EQ(currentDirectory(), before);
    EXPECT_NE(std::memchr(text, 0, sizeof text), nullptr);
    if (errorText != nullptr) *errorText = text;
    return made;
}

class Builder : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(dir.file("a.gif"), textBytes(50000));
        writeFile(dir.file("b.gif"), randomBytes(40000, 2));
        writeFile(dir.file("c.au"), textBytes(3000) + randomBytes(3000, 3));
    }
    void TearDown() override { EXPECT_TRUE(temps.list().empty()) << "temporary files left"; }
    std::string cab() const { return dir.file("pack.cab"); }
    std::string slashed() const { return dir.path() + "/"; }
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (const std::string& n : dir.list())
            if (n != "a.gif" && n != "b.gif" && n != "c.au") names.push_back(n);
        return names;
    }

    TempDir dir;
    TempDir temps;
    TmpVariable tmp{temps.path()};
};

}  // namespace

TEST_F(Builder, FoldersBreakAtPlus) {
    Made made = makeCab(slashed(), "pack.cab", {"a.gif", "+", "b.gif", "c.au"});
    EXPECT_EQ(made.result, 1);
    EXPECT_EQ(made.printed, "");
    Layout layout = readLayout(cab());
    ASSERT_TRUE(layout.valid);
    EXPECT_EQ(layout.folders, 2);
    EXPECT_EQ(layout.setId, 12345);
    ASSERT_EQ(layout.entries.size(), 3u);
    EXPECT_EQ(layout.entries[0].folder, 0);
    EXPECT_EQ(layout.entries[1].folder, 1);
    EXPECT_EQ(layout.entries[2].folder, 1);
    EXPECT_EQ(layout.compression, (std::vector<std::uint16_t>{1, 1}));
    expectReadersAccept(cab(), {"a.gif", "b.gif", "c.au"});
    expectContentsMatch(cab(), dir.path(), {"a.gif", "b.gif", "c.au"});
}

struct PlusCase {
    std::vector<std::string> entries;
    int folders;
    std::vector<std::string> files;
};

TEST_F(Builder, OnlyTheExactEntryPlusClosesAFolder) {
    writeFile(dir.file("+x"), "plus x");
    writeFile(dir.file(" +"), "blank plus");
    writeFile(dir.file("++"), "plus plus");
    const PlusCase cases[] = {
        {{"+", "a.gif", "b.gif"}, 1, {"a.gif", "b.gif"}},
        {{"a.gif", "b.gif", "+"}, 1, {"a.gif", "b.gif"}},
        {{"a.gif", "+", "+", "b.gif"}, 2, {"a.gif", "b.gif"}},
        {{"+", "+"}, 0, {}},
        {{"a.gif", "+x", " +", "++"}, 1, {"a.gif", "+x", " +", "++"}},
        {{"+x", "+", "++", "+", " +"}, 3, {"+x", "++", " +"}},
    };
    for (const PlusCase& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.entries));
        unlink(cab().c_str());
        Made made = makeCab(slashed(), "pack.cab", c.entries);
        EXPECT_EQ(made.result, 1) << made.printed;
        Layout layout = readLayout(cab());
        EXPECT_EQ(layout.folders, c.folders);
        ASSERT_EQ(layout.entries.size(), c.files.size());
        for (std::size_t i = 0; i < c.files.size(); ++i) EXPECT_EQ(layout.entries[i].name, c.files[i]);
        if (!c.files.empty()) {
            expectReadersAccept(cab(), c.files);
            expectContentsMatch(cab(), dir.path(), c.files);
        }
    }
}

TEST_F(Builder, NamesWithBlanksAndNonAsciiLetters) {
    std::vector<std::string> names = {"mit Leerzeichen.gif", "Grüße aus Köln.au", "日本語.txt"};
    for (const std::string& n : names) writeFile(dir.file(n), textBytes(1000 + n.size()));
    Made made = makeCab(slashed(), "names.cab", names);
    ASSERT_EQ(made.result, 1) << made.printed;
    Layout layout = readLayout(dir.file("names.cab"));
    EXPECT_EQ(layout.entries[0].attributes & 0x80, 0);
    EXPECT_EQ(layout.entries[1].attributes & 0x80, 0x80);
    EXPECT_EQ(layout.entries[2].attributes & 0x80, 0x80);
    expectReadersAccept(dir.file("names.cab"), names);
    expectContentsMatch(dir.file("names.cab"), dir.path(), names);
}

TEST_F(Builder, RelativeEntriesAreTakenFromTheCabinetDirectory) {
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
    writeFile(dir.file("sub/d.txt"), "in a folder");
    TempDir elsewhere;
    writeFile(elsewhere.file("a.gif"), "the wrong a.gif");
    ASSERT_EQ(chdir(elsewhere.path().c_str()), 0);
    Made made = makeCab(slashed(), "pack.cab", {"a.gif", "sub/d.txt"});
    ASSERT_EQ(made.result, 1) << made.printed;
    EXPECT_EQ(readLayout(cab()).entries[1].name, "sub/d.txt");
    expectReadersAccept(cab(), {"a.gif", "sub/d.txt"});
    expectContentsMatch(cab(), dir.path(), {"a.gif", "sub/d.txt"});
    ASSERT_EQ(chdir("/"), 0);
}

TEST_F(Builder, RelativeCabinetDirectory) {
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    ASSERT_EQ(mkdir("out", 0755), 0);
    writeFile("out/e.txt", "e");
    Made made = makeCab("out/", "pack.cab", {"e.txt"});
    ASSERT_EQ(made.result, 1) << made.printed;
    EXPECT_TRUE(fileExists(dir.file("out/pack.cab")));
    expectReadersAccept(dir.file("out/pack.cab"), {"e.txt"});
    ASSERT_EQ(chdir("/"), 0);
}

TEST_F(Builder, EmptyListMakesACabinetWithoutFiles) {
    Made made = makeCab(slashed(), "empty.cab", {});
    EXPECT_EQ(made.result, 1);
    EXPECT_EQ(made.printed, "");
    Layout layout = readLayout(dir.file("empty.cab"));
    ASSERT_TRUE(layout.valid);
    EXPECT_EQ(layout.files, 0);
    EXPECT_EQ(layout.folders, 0);
    std::string out;
    EXPECT_EQ(run("gcab -l " + shellQuoted(dir.file("empty.cab")), &out), 0) << out;
    EXPECT_EQ(out, "");
    if (run("command -v 7z") == 0) {
        EXPECT_EQ(run("7z l " + shellQuoted(dir.file("empty.cab")), &out), 0) << out;
        EXPECT_NE(out.find("0 files"), std::string::npos) << out;
    }
    EXPECT_NE(run("cabextract -t " + shellQuoted(dir.file("empty.cab")), &out), 0);
    EXPECT_NE(out.find("no valid cabinets found"), std::string::npos) << out;
}

TEST_F(Builder, IncompressibleEmptyAndMultiBlockFiles) {
    writeFile(dir.file("random.bin"), randomBytes(200000, 11));
    writeFile(dir.file("empty.txt"), "");
    writeFile(dir.file("empty2.txt"), "");
    writeFile(dir.file("exact.txt"), textBytes(32768));
    writeFile(dir.file("plus1.txt"), textBytes(32769));
    std::vector<std::string> names = {"empty.txt", "random.bin", "exact.txt", "empty2.txt", "plus1.txt"};
    Made made = makeCab(slashed(), "mix.cab", names);
    ASSERT_EQ(made.result, 1) << made.printed;
    Layout layout = readLayout(dir.file("mix.cab"));
    EXPECT_EQ(layout.entries[1].size, 200000u);
    EXPECT_EQ(layout.entries[3].size, 0u);
    EXPECT_EQ(layout.entries[4].folderOffset, 200000u + 32768u);
    EXPECT_EQ(layout.blocksPerFolder[0], (200000 + 32768 + 32769 + 32767) / 32768);
    expectReadersAccept(dir.file("mix.cab"), names);
    expectContentsMatch(dir.file("mix.cab"), dir.path(), names);
}

TEST_F(Builder, FileOverOneHundredMegabytes) {
    // Mostly a hole, with marked pieces spread over it.
    std::string big = dir.file("big.bin");
    int fd = open(big.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    const long long size = 105LL * 1024 * 1024 + 123;
    for (long long at = 0; at < size; at += 7 * 1024 * 1024 + 4321) {
        std::string piece = randomBytes(5000, static_cast<unsigned>(at));
        ASSERT_EQ(pwrite(fd, piece.data(), piece.size(), at), static_cast<ssize_t>(piece.size()));
    }
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
    Made made = makeCab(slashed(), "big.cab", {"a.gif", "big.bin", "c.au"});
    ASSERT_EQ(made.result, 1) << made.printed;
    Layout layout = readLayout(dir.file("big.cab"));
    EXPECT_EQ(layout.entries[1].size, static_cast<std::uint32_t>(size));
    EXPECT_EQ(layout.blocksPerFolder[0], (50000 + size + 6000 + 32767) / 32768);
    expectReadersAccept(dir.file("big.cab"), {"a.gif", "big.bin", "c.au"});
    expectContentsMatch(dir.file("big.cab"), dir.path(), {"a.gif", "big.bin", "c.au"});
}

TEST_F(Builder, MissingFile) {
    std::string text;
    Made made = build(slashed(), "pack.cab", {"a.gif", "missing.gif", "b.gif"}, &text);
    EXPECT_EQ(made.result, 0);
    EXPECT_EQ(made.printed, "FCIAddFile() failed: code 1 [Failure opening file to be stored in cabinet]\n");
    EXPECT_EQ(text, "Failure opening file to be stored in cabinet: 'missing.gif'");
    EXPECT_TRUE(leftovers().empty());
    // Through the export: the same line, and now a result that tells.
    made = makeCab(slashed(), "pack.cab", {"missing.gif"});
    EXPECT_EQ(made.result, 0);
    EXPECT_EQ(made.printed, "FCIAddFile() failed: code 1 [Failure opening file to be stored in cabinet]\n");
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(Builder, ErrorTextOfALongEntryIsBounded) {
    const std::string code = "Failure opening file to be stored in cabinet";
    struct Case {
        std::string entry;
        std::string text;
    };
    std::string fits(255 - code.size() - 4, 'f');
    std::string over(fits.size() + 1, 'o');
    std::string umlauts;
    while (umlauts.size() < 300) umlauts += "ü";
    const Case cases[] = {
        {fits, code + ": '" + fits + "'"},
        {over, code + ": '" + over.substr(0, 204) + "...'"},
        {std::string(1000, 'l'), code + ": '" + std::string(204, 'l') + "...'"},
        // Never half a character.
        {umlauts, code + ": '" + umlauts.substr(0, 204) + "...'"},
    };
    for (const Case& c : cases) {
        std::string text;
        Made made = build(slashed(), "pack.cab", {c.entry}, &text);
        EXPECT_EQ(made.result, 0);
        EXPECT_EQ(text, c.text);
        EXPECT_LE(text.size(), 255u);
    }
}

TEST(CabinetErrorText, EveryCode) {
    const std::pair<int, const char*> table[] = {
        {0, "No error"},
        {1, "Failure opening file to be stored in cabinet"},
        {2, "Failure reading file to be stored in cabinet"},
        {3, "Insufficient memory in FCI"},
        {4, "Could not create a temporary file"},
        {5, "Unknown compression type"},
        {6, "Could not create cabinet file"},
        {7, "Client requested abort"},
        {8, "Failure compressing data"},
        {9, "Unknown error"},
        {-1, "Unknown error"},
        {1000, "Unknown error"},
    };
    for (const auto& [code, text] : table) EXPECT_STREQ(cabinetErrorText(code), text) << code;
}

TEST(CabinetParams, Fields) {
    CCAB params;
    std::memset(&params, 0x5A, sizeof params);
    std::string dir(255, 'd');
    initCabinetParams(&params, dir.c_str(), "pack.cab");
    EXPECT_EQ(params.cb, 0x7FFFFFFFu);
    EXPECT_EQ(params.cbFolderThresh, 0x7FFFFFFFu);
    EXPECT_EQ(params.cbReserveCFHeader, 0u);
    EXPECT_EQ(params.cbReserveCFFolder, 0u);
    EXPECT_EQ(params.cbReserveCFData, 0u);
    EXPECT_EQ(params.iCab, 1);
    EXPECT_EQ(params.iDisk, 0);
    EXPECT_EQ(params.fFailOnIncompressible, 0);
    EXPECT_EQ(params.setID, 12345);
    EXPECT_STREQ(params.szDisk, "");
    EXPECT_STREQ(params.szCab, "pack.cab");
    EXPECT_EQ(std::string(params.szCabPath), dir);  // as given, no separator added
}

TEST_F(Builder, NamesThatDoNotFitTouchNothing) {
    std::string longName(256, 'n');
    Made made = makeCab(slashed(), longName, {"a.gif"});
    EXPECT_EQ(made.result, 0);
    EXPECT_EQ(made.printed, "");
    made = makeCab(dir.path() + "/" + std::string(256 - dir.path().size(), 'x'), "pack.cab", {"a.gif"});
    EXPECT_EQ(made.result, 0);
    EXPECT_EQ(made.printed, "");
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(Builder, InjectedAllocationFailures) {
    // Count the heap allocations of one build, then fail each in turn.
    long total;
    {
        fault::Scope scope;
        ASSERT_EQ(build(slashed(), "pack.cab", {"a.gif", "+", "b.gif"}, nullptr).result, 1);
        total = fault::count(fault::Kind::Alloc);
    }
    ASSERT_GT(total, 3);
    for (long nth = 1; nth <= total; ++nth) {
        SCOPED_TRACE(nth);
        unlink(cab().c_str());
        fault::Scope scope;
        fault::failAt(fault::Kind::Alloc, nth);
        std::string text;
        Made made = build(slashed(), "pack.cab", {"a.gif", "+", "b.gif"}, &text);
        EXPECT_EQ(made.result, 0);
        EXPECT_TRUE(leftovers().empty());
        EXPECT_TRUE(temps.list().empty());
        // The temporary-name service allocates too: its failure is a missing name.
        if (made.printed == "FCICreate() failed: code 4 [Could not create a temporary file]\n") {
            EXPECT_EQ(text, "Could not create a temporary file");
            continue;
        }
        EXPECT_TRUE(made.printed == "FCICreate() failed: code 3 [Insufficient memory in FCI]\n" ||
                    made.printed == "FCIAddFile() failed: code 3 [Insufficient memory in FCI]\n" ||
                    made.printed == "FCIFlushFolder() failed: code 3 [Insufficient memory in FCI]\n" ||
                    made.printed == "FCIFlushCabinet() failed: code 3 [Insufficient memory in FCI]\n")
            << made.printed;
        EXPECT_EQ(text.rfind("Insufficient memory in FCI", 0), 0u) << text;
    }
}

TEST_F(Builder, InjectedTemporaryNameFailure) {
    fault::Scope scope;
    fault::failAt(fault::Kind::TempName, 2);
    std::string text;
    Made made = build(slashed(), "pack.cab", {"a.gif"}, &text);
    EXPECT_EQ(made.result, 0);
    EXPECT_EQ(made.printed, "FCICreate() failed: code 4 [Could not create a temporary file]\n");
    EXPECT_EQ(text, "Could not create a temporary file");
    EXPECT_TRUE(temps.list().empty());
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(Builder, InjectedOpenFailureOfATemporaryFile) {
    fault::Scope scope;
    fault::failAt(fault::Kind::Open, 1);
    Made made = build(slashed(), "pack.cab", {"a.gif"}, nullptr);
    EXPECT_EQ(made.printed, "FCICreate() failed: code 4 [Could not create a temporary file]\n");
}

TEST_F(Builder, InjectedReadFailure) {
    fault::Scope scope;
    fault::failAt(fault::Kind::Read, 1);
    std::string text;
    Made made = build(slashed(), "pack.cab", {"a.gif"}, &text);
    EXPECT_EQ(made.printed, "FCIAddFile() failed: code 2 [Failure reading file to be stored in cabinet]\n");
    EXPECT_EQ(text, "Failure reading file to be stored in cabinet: 'a.gif'");
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(Builder, InjectedWriteFailures) {
    long total;
    {
        fault::Scope scope;
        ASSERT_EQ(build(slashed(), "pack.cab", {"a.gif", "b.gif", "+", "c.au"}, nullptr).result, 1);
        total = fault::count(fault::Kind::Write);
    }
    ASSERT_GT(total, 4);
    for (long nth = 1; nth <= total; ++nth) {
        SCOPED_TRACE(nth);
        unlink(cab().c_str());
        fault::Scope scope;
        fault::failAt(fault::Kind::Write, nth);
        Made made = build(slashed(), "pack.cab", {"a.gif", "b.gif", "+", "c.au"}, nullptr);
        EXPECT_EQ(made.result, 0);
        bool tempLine = made.printed.find("failed: code 4 [Could not create a temporary file]\n") != std::string::npos;
        EXPECT_TRUE(tempLine || made.printed == "FCIFlushCabinet() failed: code 6 [Could not create cabinet file]\n")
            << made.printed;
        EXPECT_TRUE(leftovers().empty()) << "partial cabinet left";
        EXPECT_TRUE(temps.list().empty());
    }
}

// The cabinet is written under another name and renamed into place once
// whole: a build that fails at any write leaves an old cabinet as it was,
// and a whole one replaces it with the old file's permission bits.
TEST_F(Builder, AnOldCabinetStaysUntilANewOneIsWhole) {
    const std::vector<std::string> entries = {"a.gif", "b.gif", "+", "c.au"};
    const std::string old = "an old cabinet";
    long writes;
    {
        fault::Scope scope;
        ASSERT_EQ(build(slashed(), "pack.cab", entries, nullptr).result, 1);
        writes = fault::count(fault::Kind::Write);
    }
    std::string whole = readFile(cab());
    for (long nth = 1; nth <= writes; ++nth) {
        SCOPED_TRACE(nth);
        writeFile(cab(), old);
        fault::Scope scope;
        fault::failAt(fault::Kind::Write, nth);
        EXPECT_EQ(build(slashed(), "pack.cab", entries, nullptr).result, 0);
        EXPECT_EQ(readFile(cab()), old);
        EXPECT_EQ(leftovers(), std::vector<std::string>{"pack.cab"});
    }
    writeFile(cab(), old);
    Made missing = build(slashed(), "pack.cab", {"a.gif", "missing.gif"}, nullptr);
    EXPECT_EQ(missing.result, 0);
    EXPECT_EQ(readFile(cab()), old);

    ASSERT_EQ(chmod(cab().c_str(), 0640), 0);
    ASSERT_EQ(build(slashed(), "pack.cab", entries, nullptr).result, 1);
    EXPECT_EQ(readFile(cab()), whole);
    struct stat info;
    ASSERT_EQ(stat(cab().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(leftovers(), std::vector<std::string>{"pack.cab"});
}

TEST_F(Builder, CabinetThatCannotBeCreated) {
    std::string text;
    Made made = build(dir.path() + "/none/", "pack.cab", {dir.file("a.gif")}, &text);
    EXPECT_EQ(made.result, 0);
    EXPECT_EQ(made.printed, "FCIFlushCabinet() failed: code 6 [Could not create cabinet file]\n");
    EXPECT_EQ(text, "Could not create cabinet file");
}

TEST_F(Builder, CurrentDirectoryLongerThanTheBufferIsRestored) {
    std::string deep = dir.path();
    while (deep.size() < 400) {
        deep += "/" + std::string(60, 'p');
        ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
    }
    ASSERT_EQ(chdir(deep.c_str()), 0);
    Made made = makeCab(slashed(), "pack.cab", {"a.gif"});  // checks the directory afterwards
    EXPECT_EQ(made.result, 1);
    EXPECT_EQ(currentDirectory(), deep);
    made = makeCab(slashed(), "pack.cab", {"missing.gif"});
    EXPECT_EQ(made.result, 0);
    EXPECT_EQ(currentDirectory(), deep);
    ASSERT_EQ(chdir("/"), 0);
}

TEST_F(Builder, BindingIsReleasedAfterASuccessfulBuild) {
    ASSERT_EQ(build(slashed(), "pack.cab", {"a.gif"}, nullptr).result, 1);
    EXPECT_EQ(cabinetBinding.library, nullptr);
    EXPECT_EQ(cabinetBinding.create, nullptr);
    ASSERT_EQ(build(slashed(), "pack.cab", {"missing"}, nullptr).result, 0);
    EXPECT_EQ(cabinetBinding.library, nullptr);  // FCIDestroy returned 1 on the failure path too
}

// The library without libCABINET.so beside it and nowhere on the search
// path, loaded by a small host of its own (this process has the cabinet
// library loaded already).
TEST(CabinetLibraryMissing, BuildFailsWithTheCreateLine) {
    TempDir alone;
    TempDir work;
    std::string copy = alone.file("libVornNative.so");
    ASSERT_EQ(run("cp " + shellQuoted(buildPath("libVornNative.so")) + " " + shellQuoted(copy)), 0);
    writeFile(work.file("a.gif"), "a");
    std::string out;
    int status = run("env -u LD_LIBRARY_PATH " + shellQuoted(buildPath("tests/cabinet/cab_host")) + " " + shellQuoted(copy) +
                         " " + shellQuoted(work.path() + "/") + " pack.cab a.gif",
                     &out);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "FCICreate() failed: code -1 [Unknown error]\nresult 0\n");
    EXPECT_FALSE(fileExists(work.file("pack.cab")));
    // The same host with the build's own library makes the cabinet.
    status = run(shellQuoted(buildPath("tests/cabinet/cab_host")) + " " + shellQuoted(buildPath("libVornNative.so")) + " " +
                     shellQuoted(work.path() + "/") + " pack.cab a.gif",
                 &out);
    EXPECT_EQ(out, "result 1\n");
    expectReadersAccept(work.file("pack.cab"), {"a.gif"});
}
