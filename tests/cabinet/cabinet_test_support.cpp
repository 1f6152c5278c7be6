#include "tests/cabinet/cabinet_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <unistd.h>

#include "tests/common/test_support.h"

using testing_support::readFile;
using testing_support::run;

namespace cabinet_test {
namespace {

std::uint16_t u16(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}

std::uint32_t u32(const std::string& b, std::size_t at) {
    return u16(b, at) | static_cast<std::uint32_t>(u16(b, at + 2)) << 16;
}

bool have7z() { return run("command -v 7z") == 0; }

}  // namespace

Layout readLayout(const std::string& cabinet) {
    Layout layout;
    std::string b = readFile(cabinet);
    if (b.size() < 36 || b.compare(0, 4, "MSCF") != 0) return layout;
    layout.cabinetSize = u32(b, 8);
    std::uint32_t filesAt = u32(b, 16);
    layout.folders = u16(b, 26);
    layout.files = u16(b, 28);
    layout.flags = u16(b, 30);
    layout.setId = u16(b, 32);
    std::size_t at = 36;
    unsigned folderReserve = 0;
    if (layout.flags & 4) {
        folderReserve = static_cast<unsigned char>(b[at + 2]);
        at += 4 + u16(b, at);
    }
    for (unsigned i = 0; i < layout.folders; ++i, at += 8 + folderReserve) {
        if (at + 8 > b.size()) return layout;
        layout.blocksPerFolder.push_back(u16(b, at + 4));
        layout.compression.push_back(u16(b, at + 6));
    }
    at = filesAt;
    for (unsigned i = 0; i < layout.files; ++i) {
        if (at + 16 > b.size()) return layout;
        FileEntry e;
        e.size = u32(b, at);
        e.folderOffset = u32(b, at + 4);
        e.folder = u16(b, at + 8);
        e.date = u16(b, at + 10);
        e.time = u16(b, at + 12);
        e.attributes = u16(b, at + 14);
        std::size_t end = b.find('\0', at + 16);
        if (end == std::string::npos) return layout;
        e.name = b.substr(at + 16, end - at - 16);
        at = end + 1;
        layout.entries.push_back(e);
    }
    layout.valid = layout.cabinetSize == b.size();
    return layout;
}

void expectReadersAccept(const std::string& cabinet, const std::vector<std::string>& names) {
    std::string out;
    EXPECT_EQ(run("cabextract -t " + shellQuoted(cabinet), &out), 0) << out;
    EXPECT_NE(out.find("All done, no errors."), std::string::npos) << out;
    EXPECT_EQ(run("cabextract -l " + shellQuoted(cabinet), &out), 0) << out;
    for (const std::string& name : names) EXPECT_NE(out.find("| " + name + "\n"), std::string::npos) << name << out;
    EXPECT_EQ(run("gcab -l " + shellQuoted(cabinet), &out), 0) << out;
    std::vector<std::string> listed;
    std::size_t start = 0;
    while (start < out.size()) {
        std::size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        // "name size date time attributes": the name may hold blanks itself.
        std::string line = out.substr(start, end - start);
        for (int field = 0; field < 4 && !line.empty(); ++field) {
            std::size_t blank = line.rfind(' ');
            line.resize(blank == std::string::npos ? 0 : blank);
        }
        if (end > start) listed.push_back(line);
        start = end + 1;
    }
    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, expected);
    if (have7z()) {
        EXPECT_EQ(run("7z t " + shellQuoted(cabinet), &out), 0) << out;
        EXPECT_NE(out.find("Everything is Ok"), std::string::npos) << out;
    }
}

void expectContentsMatch(const std::string& cabinet, const std::string& sourceDir,
                         const std::vector<std::string>& names) {
    testing_support::TempDir byCabextract;
    testing_support::TempDir byGcab;
    std::string out;
    ASSERT_EQ(run("cabextract -q -d " + shellQuoted(byCabextract.path()) + " " + shellQuoted(cabinet), &out), 0) << out;
    ASSERT_EQ(run("gcab -x -C " + shellQuoted(byGcab.path()) + " " + shellQuoted(cabinet), &out), 0) << out;
    for (const std::string& name : names) {
        std::string original = readFile(sourceDir + "/" + name);
        EXPECT_TRUE(readFile(byCabextract.file(name)) == original) << "cabextract: " << name;
        EXPECT_TRUE(readFile(byGcab.file(name)) == original) << "gcab: " << name;
    }
}

CapturedOutput::CapturedOutput() {
    char pattern[] = "/tmp/vorn-stdout-XXXXXX";
    int fd = mkstemp(pattern);
    path = pattern;
    std::fflush(stdout);
    saved = dup(1);
    dup2(fd, 1);
    close(fd);
}

CapturedOutput::~CapturedOutput() { text(); }

std::string CapturedOutput::text() {
    if (!done) {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
        collected = readFile(path);
        unlink(path.c_str());
        done = true;
    }
    return collected;
}

TmpVariable::TmpVariable(const std::string& value) {
    const char* current = std::getenv("TMP");
    had = current != nullptr;
    if (had) old = current;
    setenv("TMP", value.c_str(), 1);
}

TmpVariable::~TmpVariable() {
    if (had) setenv("TMP", old.c_str(), 1);
    else unsetenv("TMP");
}

std::string shellQuoted(const std::string& path) {
    std::string q = "'";
    for (char c : path) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string currentDirectory() {
    char path[PATH_MAX];
    return getcwd(path, sizeof path) != nullptr ? path : "";
}

std::string randomBytes(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes) c = static_cast<char>(generator());
    return bytes;
}

std::string textBytes(std::size_t count) {
    static const char* words[] = {"cabinet ", "folder ", "block ", "deflate ", "history ", "window\n", "MSZIP ", "file "};
    std::mt19937 generator(7);
    std::string text;
    while (text.size() < count) text += words[generator() % 8];
    text.resize(count);
    return text;
}

}  // namespace cabinet_test
