#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "image/gif_image.h"
#include "native/VornNative.h"
#include "platform/fault.h"
#include "tests/common/test_support.h"
#include "tests/gif/giflib_view.h"

using namespace gif_testing;
using testing_support::buildPath;
using testing_support::dataPath;
using testing_support::readFile;
using testing_support::Recorder;
using testing_support::run;
using testing_support::runInChild;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

int makeTransparent(const std::string& name) {
    vm::LocalString string(name.data(), name.size());
    return VornNative_makeTransparent(0, string.handle());
}

std::vector<std::string> fixtures() {
    std::vector<std::string> names;
    for (const char* folder : {"gif", "gif-suite", "gif/made"}) {
        DIR* dir = opendir(dataPath(folder).c_str());
        if (dir == nullptr) continue;
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".gif") == 0)
                names.push_back(std::string(folder) + "/" + name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

const std::string anyGif = "gif/made/plasma-300x200.gif";

}  // namespace

// Every picture: rewritten with its top-left colour transparent (giflib
// reads the first image back with that index), or left as it was when it
// already declares a transparent colour.
TEST(MakeTransparent, EveryFixture) {
    std::vector<std::string> names = fixtures();
    ASSERT_GE(names.size(), 30u);
    int rewritten = 0, untouched = 0;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        GiflibPicture before = giflibRead(dataPath(name));
        ASSERT_TRUE(before.ok);
        Expected e = expectedRead(before, 0);
        Recorder recorder;
        TempDir dir;
        std::string original = readFile(dataPath(name));
        writeFile(dir.file("x.gif"), original);
        EXPECT_EQ(makeTransparent(dir.file("x.gif")), 1);
        EXPECT_TRUE(recorder.boxes().empty());
        std::string after = readFile(dir.file("x.gif"));
        EXPECT_EQ(dir.list(), std::vector<std::string>{"x.gif"});
        if (e.hasTransparent) {
            EXPECT_EQ(after, original);
            ++untouched;
            continue;
        }
        ++rewritten;
        GiflibPicture p = giflibRead(dir.file("x.gif"));
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_EQ(after.substr(0, 6), "GIF89a");
        ASSERT_EQ(p.frames.size(), 1u);
        const GiflibFrame& f = p.frames[0];
        EXPECT_EQ(f.width, before.width);
        EXPECT_EQ(f.height, before.height);
        EXPECT_TRUE(f.interlaced);
        EXPECT_TRUE(f.pixels == e.pixels);
        EXPECT_EQ(f.transparentIndex, e.pixels[0]);
        EXPECT_EQ(f.disposal == 2, e.restore);
        ASSERT_LE(f.colours.size(), 768u);
        EXPECT_EQ(0, std::memcmp(f.colours.data(), e.palette.data(), f.colours.size()));
        int largest = *std::max_element(e.pixels.begin(), e.pixels.end());
        EXPECT_GT(static_cast<int>(f.colours.size()) / 3, largest);
        EXPECT_LE(static_cast<int>(f.colours.size()) / 3, std::max(2, 2 * largest));
    }
    EXPECT_GE(rewritten, 10);
    EXPECT_GE(untouched, 3);
}

TEST(MakeTransparent, RewrittenFileReadsBackWithTheIndex) {
    TempDir dir;
    writeFile(dir.file("x.gif"), readFile(dataPath(anyGif)));
    GifImage before;
    ASSERT_EQ(before.read(dir.file("x.gif").c_str(), 0), 1);
    ASSERT_EQ(makeTransparent(dir.file("x.gif")), 1);
    GifImage after;
    ASSERT_EQ(after.read(dir.file("x.gif").c_str(), 0), 1);
    EXPECT_EQ(after.hasTransparent, 1);
    EXPECT_EQ(after.transparentIndex, *before.pixelAddress(0, 0));
    EXPECT_TRUE(screenPixels(after) == screenPixels(before));
    // A second run finds the transparent colour and leaves the file alone.
    std::string once = readFile(dir.file("x.gif"));
    EXPECT_EQ(makeTransparent(dir.file("x.gif")), 1);
    EXPECT_EQ(readFile(dir.file("x.gif")), once);
}

TEST(MakeTransparent, FilesThatAreNotReadLeaveNoTrace) {
    struct Case {
        const char* what;
        std::string contents;
    };
    const Case cases[] = {
        {"not a GIF", "P6\n1 1\n255\nabc"},
        {"empty", ""},
        {"trailer before any image", std::string("GIF89a\x01\0\x01\0\0\0\0;", 14)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Recorder recorder;
        TempDir dir;
        writeFile(dir.file("x.gif"), c.contents);
        EXPECT_EQ(makeTransparent(dir.file("x.gif")), 0);
        EXPECT_EQ(readFile(dir.file("x.gif")), c.contents);
        EXPECT_TRUE(recorder.boxes().empty());
    }
    Recorder recorder;
    EXPECT_EQ(makeTransparent("/nonexistent/x.gif"), 0);
    EXPECT_EQ(VornNative_makeTransparent(0, 0), 0);
    EXPECT_TRUE(recorder.boxes().empty());
}

TEST(MakeTransparent, NameLongerThan255BytesTouchesNothing) {
    TempDir dir;
    std::string name = dir.path() + "/";
    name += std::string(255 - name.size(), 'a');
    ASSERT_EQ(name.size(), 255u);
    std::string original = readFile(dataPath(anyGif));
    ASSERT_TRUE(writeFile(name, original));
    EXPECT_EQ(makeTransparent(name + std::string(45, 'b')), 0);
    EXPECT_EQ(readFile(name), original);
    EXPECT_EQ(dir.list().size(), 1u);
    // The 255-byte name itself is fine.
    EXPECT_EQ(makeTransparent(name), 1);
    EXPECT_NE(readFile(name), original);
}

TEST(MakeTransparent, FailedWriteReturnsZeroAndKeepsTheOriginal) {
    for (bool persist : {false, true}) {
        fault::Scope scope;
        Recorder recorder;
        TempDir dir;
        std::string original = readFile(dataPath(anyGif));
        writeFile(dir.file("x.gif"), original);
        fault::failAt(fault::Kind::Write, 1, persist);
        EXPECT_EQ(makeTransparent(dir.file("x.gif")), 0);
        EXPECT_EQ(readFile(dir.file("x.gif")), original);
        EXPECT_EQ(dir.list(), std::vector<std::string>{"x.gif"});
        EXPECT_EQ(recorder.boxes(), std::vector<std::string>{"Error: Cannot write file"});
    }
}

namespace {
struct ChildCall {
    std::string path;
};
int callInChild(void* context) { return makeTransparent(static_cast<ChildCall*>(context)->path); }

// A folder that the unprivileged child may enter and read but not write.
struct ReadOnlyFolder {
    TempDir dir;
    std::string folder = dir.file("ro");
    std::string file = folder + "/x.gif";
    std::string original = readFile(dataPath(anyGif));
    ReadOnlyFolder() {
        chmod(dir.path().c_str(), 0755);
        mkdir(folder.c_str(), 0755);
        writeFile(file, original);
        chmod(file.c_str(), 0666);
        chmod(folder.c_str(), 0555);
    }
    ~ReadOnlyFolder() { chmod(folder.c_str(), 0755); }
};
}  // namespace

TEST(MakeTransparent, ReadOnlyFolderReturnsZeroAndKeepsTheOriginal) {
    ReadOnlyFolder ro;
    ChildCall call{ro.file};
    EXPECT_EQ(runInChild(callInChild, &call, true), 0);
    EXPECT_EQ(readFile(ro.file), ro.original);
}

// The command: its exit status follows the method's result.
TEST(MakeTransparentCommand, ExitStatusAndFiles) {
    const std::string vorn = buildPath("vorn");
    TempDir dir;
    writeFile(dir.file("a.gif"), readFile(dataPath(anyGif)));
    writeFile(dir.file("t.gif"), readFile(dataPath("gif-suite/static_transparent.gif")));
    writeFile(dir.file("bad.gif"), "not a picture");
    std::string output;
    EXPECT_EQ(run(vorn + " make-transparent " + dir.file("a.gif"), &output), 0) << output;
    GiflibPicture p = giflibRead(dir.file("a.gif"));
    ASSERT_TRUE(p.ok);
    EXPECT_GE(p.frames.at(0).transparentIndex, 0);
    EXPECT_EQ(run(vorn + " make-transparent " + dir.file("t.gif"), &output), 0) << output;
    EXPECT_EQ(readFile(dir.file("t.gif")), readFile(dataPath("gif-suite/static_transparent.gif")));
    EXPECT_EQ(run(vorn + " make-transparent " + dir.file("bad.gif"), &output), 1) << output;
    EXPECT_EQ(readFile(dir.file("bad.gif")), "not a picture");
    EXPECT_EQ(run(vorn + " make-transparent " + dir.file("missing.gif"), &output), 1) << output;
}

namespace {
struct CommandCall {
    std::string command;
    std::string log;  // where the child leaves the command's output
};
int commandInChild(void* context) {
    auto* call = static_cast<CommandCall*>(context);
    std::string output;
    int status = run(call->command, &output);
    if (!call->log.empty()) writeFile(call->log, output);
    return status;
}
int countOf(const std::string& text, const std::string& word) {
    int n = 0;
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
    return n;
}
}  // namespace

TEST(MakeTransparentCommand, FullDiskShowsOneBoxAndKeepsTheOriginal) {
    TempDir dir;
    std::string original = readFile(dataPath("gif/photo-640x480.gif"));
    writeFile(dir.file("x.gif"), original);
    std::string log = dir.file("log");
    CommandCall call{buildPath("vorn") + " make-transparent " + dir.file("x.gif"), log};
    // Writes beyond 4 KB fail as on a full disk.
    EXPECT_EQ(runInChild(commandInChild, &call, false, 4096), 1);
    EXPECT_EQ(readFile(dir.file("x.gif")), original);
    EXPECT_EQ(countOf(readFile(log), "Cannot write file"), 1) << readFile(log);
}

TEST(MakeTransparentCommand, ReadOnlyFolderKeepsTheOriginal) {
    ReadOnlyFolder ro;
    CommandCall call{buildPath("vorn") + " make-transparent " + ro.file, ""};
    EXPECT_EQ(runInChild(commandInChild, &call, true), 1);
    EXPECT_EQ(readFile(ro.file), ro.original);
}
