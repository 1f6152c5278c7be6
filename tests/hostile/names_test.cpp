// One table of awkward names through every method that takes one: each
// accepted name makes or reads exactly the file of that name, end to end,
// and runs nothing; each refused one leaves the folder as it was.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "native/VornNative.h"
#include "tests/common/test_support.h"
#include "tests/desktop/desktop_support.h"
#include "tests/gif/giflib_view.h"
#include "tests/jpeg/jpeg_reader.h"
#include "tests/sound/wav_builder.h"

using testing_support::dataPath;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

using Tree = std::map<std::string, std::string>;  // full path -> contents ("/" for a directory)

void walk(const std::string& path, Tree& tree) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        std::string full = path + "/" + name;
        struct stat info;
        if (lstat(full.c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            tree[full] = "/";
            walk(full, tree);
        } else {
            tree[full] = readFile(full);
        }
    }
    closedir(dir);
}

Tree snapshot(const std::string& root) {
    Tree tree;
    walk(root, tree);
    return tree;
}

// The paths in which two trees differ.
std::vector<std::string> changes(const Tree& before, const Tree& after) {
    std::vector<std::string> out;
    for (const auto& [path, bytes] : after) {
        auto it = before.find(path);
        if (it == before.end() || it->second != bytes) out.push_back(path);
    }
    for (const auto& [path, bytes] : before)
        if (after.find(path) == after.end()) out.push_back(path);
    return out;
}

// Argument vectors, never a shell: the names hold quotes and newlines.
int runArgs(const std::vector<std::string>& argv, std::string* output = nullptr) {
    return desktop_testing::runProgram(argv, output);
}

enum class Kind { Exactly255, Exactly255Absolute, Exactly256, Exactly256Absolute, Empty, Plain };

struct NameCase {
    const char* what;
    Kind kind;
    std::string stem;  // Plain: the name before the method's suffix
};

const NameCase names[] = {
    {"255 bytes", Kind::Exactly255, ""},
    {"255 bytes absolute", Kind::Exactly255Absolute, ""},
    {"256 bytes", Kind::Exactly256, ""},
    {"256 bytes absolute", Kind::Exactly256Absolute, ""},
    {"empty", Kind::Empty, ""},
    {"blanks", Kind::Plain, " two  blanks "},
    {"semicolon", Kind::Plain, "a;touch canary;b"},
    {"command substitution", Kind::Plain, "$(touch canary)"},
    {"backquotes", Kind::Plain, "`touch canary`"},
    {"quotes", Kind::Plain, "it's \"quoted\""},
    {"newline", Kind::Plain, "line\nbreak;touch canary"},
    {"non-ASCII letters", Kind::Plain, "Grüße-日本"},
};

std::int32_t showFile(const std::string& directory, const std::string& file) {
    vm::LocalString d(directory.data(), directory.size());
    vm::LocalString f(file.data(), file.size());
    return VornNative_showFile(0, d.handle(), f.handle());
}

class Names : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
        char here[4096];
        ASSERT_NE(getcwd(here, sizeof here), nullptr);
        start = here;
        ASSERT_EQ(chdir(work.c_str()), 0);
        ASSERT_FALSE(fileExists("/canary"));
    }
    void TearDown() override { EXPECT_EQ(chdir(start.c_str()), 0); }

    // The name for a case and a method's suffix; relative names are taken
    // from the work folder, which is the current directory.
    std::string nameFor(const NameCase& c, const std::string& suffix) const {
        auto padded = [&](std::size_t length, const std::string& prefix) {
            return prefix + std::string(length - prefix.size() - suffix.size(), 'p') + suffix;
        };
        switch (c.kind) {
        case Kind::Exactly255: return padded(255, "long/");
        case Kind::Exactly255Absolute: return padded(255, work + "/long/");
        case Kind::Exactly256: return padded(256, "long/");
        case Kind::Exactly256Absolute: return padded(256, work + "/long/");
        case Kind::Empty: return "";
        case Kind::Plain: return c.stem + suffix;
        }
        return "";
    }
    std::string absolute(const std::string& name) const { return name.starts_with("/") ? name : work + "/" + name; }
    static bool accepted(const NameCase& c, bool emptyAccepted = false) {
        if (c.kind == Kind::Exactly256 || c.kind == Kind::Exactly256Absolute) return false;
        return c.kind != Kind::Empty || emptyAccepted;
    }
    // The folders a name lies in, made before the call.
    void makeParents(const std::string& name) const {
        std::string path = absolute(name);
        std::size_t slash = path.rfind('/');
        ASSERT_TRUE(desktop_testing::makeDirs(path.substr(0, slash)));
    }
    void putFile(const std::string& name, const std::string& bytes) const {
        makeParents(name);
        ASSERT_TRUE(writeFile(absolute(name), bytes));
    }
    // Nothing a name spelled out ran.
    void expectNothingRan() const {
        EXPECT_FALSE(fileExists(work + "/canary"));
        EXPECT_FALSE(fileExists(root.file("canary")));
        EXPECT_FALSE(fileExists("/canary"));
    }
    // A refused name gives 0 and changes nothing; an accepted one gives 1
    // and changes exactly the files made. True when the output is to be
    // checked further.
    bool expectOutcome(bool accept, std::int32_t result, const Tree& before, const std::string& made) const {
        Tree after = snapshot(work);
        expectNothingRan();
        if (!accept) {
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(changes(before, after).empty());
            return false;
        }
        EXPECT_EQ(result, 1);
        EXPECT_EQ(changes(before, after), std::vector<std::string>{made});
        return true;
    }
    // The cabinet's files, extracted by cabextract into a folder of their own.
    Tree extracted(const std::string& cabinet) {
        std::string out = root.file("x" + std::to_string(++extractions));
        std::string log;
        EXPECT_EQ(runArgs({"cabextract", "-q", "-d", out, cabinet}, &log), 0) << log;
        Tree tree = snapshot(out);
        Tree files;
        for (const auto& [path, bytes] : tree)
            if (bytes != "/") files[path.substr(out.size() + 1)] = bytes;
        return files;
    }

    TempDir root;
    std::string work = root.file("work");
    std::string start;
    int extractions = 0;
};

const std::string entryBytes = "entry contents\n";

TEST_F(Names, MakeTransparent) {
    const std::string gif = readFile(dataPath("gif/tiny-5x3.gif"));
    for (const NameCase& c : names) {
        SCOPED_TRACE(c.what);
        std::string name = nameFor(c, ".gif");
        if (!name.empty()) putFile(name, gif);
        Tree before = snapshot(work);
        vm::LocalString string(name.data(), name.size());
        std::int32_t result = VornNative_makeTransparent(0, string.handle());
        if (!expectOutcome(accepted(c), result, before, absolute(name))) continue;
        gif_testing::GiflibPicture p = gif_testing::giflibRead(absolute(name));
        ASSERT_TRUE(p.ok) << p.error;
        ASSERT_EQ(p.frames.size(), 1u);
        EXPECT_EQ(p.frames[0].transparentIndex, p.frames[0].pixels.at(0));
    }
}

TEST_F(Names, SaveJpeg) {
    const std::int32_t values[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    vm::IntArray pixels(4);
    for (int i = 0; i < 4; ++i) pixels.elements()[i] = values[i];
    for (const NameCase& c : names) {
        SCOPED_TRACE(c.what);
        std::string name = nameFor(c, ".jpg");
        if (!name.empty()) makeParents(name);
        Tree before = snapshot(work);
        vm::LocalString string(name.data(), name.size());
        std::int32_t result = VornNative_saveJPEG(0, string.handle(), pixels.handle(), 2, 2);
        if (!expectOutcome(accepted(c), result, before, absolute(name))) continue;
        jpeg_reader::Decoded d = jpeg_reader::decode(readFile(absolute(name)));
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.width, 2);
        EXPECT_EQ(d.height, 2);
    }
}

namespace {
const std::string wave = wav::pcm(1, 8012, 16, wav::samples16({0, 100, -100, 2000, -2000, 0, 7, 9}));

// The AU file sox sees: one channel at 8012 Hz, eight frames.
void expectAu(const std::string& path) {
    std::string text;
    EXPECT_EQ(runArgs({"soxi", "-r", path}, &text), 0) << text;
    EXPECT_EQ(text, "8012\n");
    EXPECT_EQ(runArgs({"soxi", "-s", path}, &text), 0) << text;
    EXPECT_EQ(text, "8\n");
}
}  // namespace

TEST_F(Names, Wav2auInput) {
    for (const NameCase& c : names) {
        SCOPED_TRACE(c.what);
        std::string name = nameFor(c, ".wav");
        if (!name.empty()) putFile(name, wave);
        std::string output = root.file("out.au");
        unlink(output.c_str());
        Tree before = snapshot(work);
        vm::LocalString in(name.data(), name.size());
        vm::LocalString out(output.c_str());
        std::int32_t result = VornNative_wav2au(0, in.handle(), out.handle());
        EXPECT_TRUE(changes(before, snapshot(work)).empty());
        expectNothingRan();
        if (!accepted(c)) {
            EXPECT_EQ(result, 0);
            EXPECT_FALSE(fileExists(output));
            continue;
        }
        EXPECT_EQ(result, 1);
        expectAu(output);
    }
}

TEST_F(Names, Wav2auOutput) {
    const std::string input = root.file("in.wav");
    ASSERT_TRUE(writeFile(input, wave));
    for (const NameCase& c : names) {
        SCOPED_TRACE(c.what);
        std::string name = nameFor(c, ".au");
        if (!name.empty()) makeParents(name);
        Tree before = snapshot(work);
        vm::LocalString in(input.c_str());
        vm::LocalString out(name.data(), name.size());
        std::int32_t result = VornNative_wav2au(0, in.handle(), out.handle());
        if (!expectOutcome(accepted(c), result, before, absolute(name))) continue;
        expectAu(absolute(name));
    }
}

namespace {
std::int32_t makeCab(const std::vector<std::string>& entries, const std::string& directory, const std::string& name) {
    std::vector<std::unique_ptr<vm::LocalString>> strings;
    std::vector<vm::Handle> handles;
    for (const std::string& e : entries) {
        strings.push_back(std::make_unique<vm::LocalString>(e.data(), e.size()));
        handles.push_back(strings.back()->handle());
    }
    vm::StringArray array(handles.data(), static_cast<std::int32_t>(handles.size()));
    vm::LocalString d(directory.data(), directory.size());
    vm::LocalString n(name.data(), name.size());
    return VornNative_makeCab(0, array.handle(), d.handle(), n.handle());
}
}  // namespace

// The cabinet directory is put before the cabinet name as it is, so these
// names end in a slash; the empty one is the current directory.
TEST_F(Names, MakeCabDirectory) {
    ASSERT_TRUE(writeFile(work + "/a.txt", entryBytes));
    for (const NameCase& c : names) {
        SCOPED_TRACE(c.what);
        std::string name = nameFor(c, "/");
        std::string cabinet = absolute(name) + "pack.cab";
        if (!name.empty()) putFile(name + "a.txt", entryBytes);
        Tree before = snapshot(work);
        std::int32_t result = makeCab({"a.txt"}, name, "pack.cab");
        EXPECT_EQ(desktop_testing::currentDirectory(), work);
        if (!expectOutcome(accepted(c, true), result, before, cabinet)) continue;
        EXPECT_EQ(extracted(cabinet), (Tree{{"a.txt", entryBytes}}));
        unlink(cabinet.c_str());
    }
}

TEST_F(Names, MakeCabCabinetName) {
    ASSERT_TRUE(writeFile(work + "/a.txt", entryBytes));
    for (const NameCase& c : names) {
        SCOPED_TRACE(c.what);
        std::string name = nameFor(c, ".cab");
        if (!name.empty()) makeParents(name);
        // The name is put after the directory as it is; entries are read
        // from the directory.
        bool fromRoot = name.starts_with("/");
        std::string entry = fromRoot ? work + "/a.txt" : "a.txt";
        Tree before = snapshot(work);
        std::int32_t result = makeCab({entry}, fromRoot ? "/" : work + "/", name);
        if (!expectOutcome(accepted(c), result, before, absolute(name))) continue;
        EXPECT_EQ(extracted(absolute(name)), (Tree{{fromRoot ? entry.substr(1) : entry, entryBytes}}));
    }
}

// An entry is stored under exactly the name it was read from; a stored
// absolute name comes out below the extraction folder.
TEST_F(Names, MakeCabEntry) {
    for (const NameCase& c : names) {
        SCOPED_TRACE(c.what);
        std::string name = nameFor(c, ".txt");
        if (!name.empty()) putFile(name, entryBytes + name);
        std::string cabinet = work + "/pack.cab";
        Tree before = snapshot(work);
        std::int32_t result = makeCab({name}, work + "/", "pack.cab");
        if (!expectOutcome(accepted(c), result, before, cabinet)) continue;
        std::string stored = name.starts_with("/") ? name.substr(1) : name;
        EXPECT_EQ(extracted(cabinet), (Tree{{stored, entryBytes + name}}));
        unlink(cabinet.c_str());
    }
}

class ShowFileNames : public Names {
protected:
    void SetUp() override {
        Names::SetUp();
        ASSERT_TRUE(program.make(xdg.bin + "/vorn-record", root.file("started")));
        ASSERT_TRUE(opener.make(xdg.bin + "/xdg-open", root.file("opened")));
        ASSERT_TRUE(xdg.glob("50:application/x-vorn-test:*.vorntest"));
        ASSERT_TRUE(xdg.entry("vorn-record.desktop", "vorn-record %f"));
        ASSERT_TRUE(desktop_testing::writeTree(xdg.config + "/mimeapps.list",
                                               "[Default Applications]\napplication/x-vorn-test=vorn-record.desktop;\n"));
    }
    desktop_testing::XdgTree xdg{root.file("xdg")};
    desktop_testing::Recorder program;
    desktop_testing::Recorder opener;
    std::vector<std::string> args;
    std::string cwd;
};

// The directory a relative file name is found in; the empty one hands the
// file to xdg-open from the current directory instead.
TEST_F(ShowFileNames, Directory) {
    ASSERT_TRUE(writeFile(work + "/x.vorntest", "x"));
    for (const NameCase& c : names) {
        SCOPED_TRACE(c.what);
        std::string name = nameFor(c, "/");
        if (!name.empty()) putFile(name + "x.vorntest", "x");
        program.clear();
        opener.clear();
        Tree before = snapshot(work);
        std::int32_t result = showFile(name, "x.vorntest");
        if (!accepted(c, true)) {
            EXPECT_EQ(result, 0);
        } else if (name.empty()) {
            EXPECT_EQ(result, 1);
            ASSERT_TRUE(opener.wait(args, cwd));
            EXPECT_EQ(args, std::vector<std::string>{"./x.vorntest"});
        } else {
            EXPECT_EQ(result, 1);
            ASSERT_TRUE(program.wait(args, cwd));
            EXPECT_EQ(args, std::vector<std::string>{"x.vorntest"});
            EXPECT_EQ(cwd, "/");
        }
        EXPECT_TRUE(changes(before, snapshot(work)).empty());
        EXPECT_EQ(desktop_testing::currentDirectory(), work);
        expectNothingRan();
    }
}

TEST_F(ShowFileNames, File) {
    for (const NameCase& c : names) {
        SCOPED_TRACE(c.what);
        std::string name = nameFor(c, ".vorntest");
        if (!name.empty()) putFile(name, "x");
        program.clear();
        Tree before = snapshot(work);
        std::int32_t result = showFile(work, name);
        if (!accepted(c)) {
            EXPECT_EQ(result, 0);
        } else {
            EXPECT_EQ(result, 1);
            ASSERT_TRUE(program.wait(args, cwd));
            EXPECT_EQ(args, std::vector<std::string>{name});
        }
        EXPECT_TRUE(changes(before, snapshot(work)).empty());
        expectNothingRan();
    }
}

}  // namespace
