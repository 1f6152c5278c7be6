// Every file of the hostile corpora through the real methods: the result,
// the boxes and the traces the MANIFEST beside the files gives, outputs read
// back by giflib and sox, and a file that was not read left byte for byte.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>
#include <sstream>
#include <ostream>
#include <string>
#include <vector>

#include "image/gif_image.h"
#include "native/VornNative.h"
#include "tests/common/test_support.h"
#include "tests/gif/giflib_view.h"

using testing_support::buildPath;
using testing_support::dataPath;
using testing_support::readFile;
using testing_support::Recorder;
using testing_support::run;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

const char* const gifFolder = "gif/hostile";
const char* const wavFolder = "wav/hostile";

struct Row {
    std::string file;
    int result = 0;
    std::string outcome;  // GIF: "kept" or "rewritten"; WAV: frames or "-"
    std::vector<std::string> boxes;
    std::vector<std::string> traces;
};

// A row is named by its file (GoogleTest would otherwise dump its bytes).
void PrintTo(const Row& row, std::ostream* out) { *out << row.file; }

std::vector<std::string> split(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (;;) {
        std::size_t next = text.find(separator, at);
        parts.push_back(text.substr(at, next == std::string::npos ? std::string::npos : next - at));
        if (next == std::string::npos) return parts;
        at = next + separator.size();
    }
}

// "-", or texts in double quotes separated by blanks; false when malformed.
bool items(const std::string& column, std::vector<std::string>& out) {
    out.clear();
    if (column == "-") return true;
    std::size_t at = 0;
    while (at < column.size()) {
        if (column[at] != '"') return false;
        std::size_t end = column.find('"', at + 1);
        if (end == std::string::npos) return false;
        out.push_back(column.substr(at + 1, end - at - 1));
        at = end + 1;
        if (at < column.size() && column[at++] != ' ') return false;
    }
    return !out.empty();
}

// A row the manifest cannot be read into makes the folder's check fail.
std::vector<Row> manifest(const std::string& folder) {
    std::vector<Row> rows;
    std::ifstream in(dataPath(folder + "/MANIFEST"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> columns = split(line, "\t");
        Row row;
        row.file = columns[0];
        if (columns.size() == 5 && (columns[1] == "0" || columns[1] == "1") && items(columns[3], row.boxes) &&
            items(columns[4], row.traces)) {
            row.result = columns[1][0] - '0';
            row.outcome = columns[2];
        } else {
            row.result = -1;
        }
        rows.push_back(row);
    }
    return rows;
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(dataPath(folder).c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != ".." && name != "MANIFEST") names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string testName(const ::testing::TestParamInfo<Row>& info) {
    std::string name;
    for (char c : info.param.file) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

std::vector<std::string> withPrefix(const std::vector<std::string>& texts, const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& t : texts) out.push_back(prefix + t);
    return out;
}

std::vector<std::string> withPath(std::vector<std::string> texts, const std::string& path) {
    for (std::string& t : texts)
        if (t == "{path}") t = path;
    return texts;
}

unsigned le16At(const std::string& bytes, std::size_t at) {
    return static_cast<unsigned char>(bytes[at]) | (static_cast<unsigned char>(bytes[at + 1]) << 8);
}

std::uint32_t be32At(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
    return v;
}

}  // namespace

// Every file has its row, every row its file, and every row can be read.
TEST(HostileCorpus, EveryFileHasAManifestRow) {
    for (const char* folder : {gifFolder, wavFolder}) {
        SCOPED_TRACE(folder);
        std::vector<std::string> listed;
        for (const Row& row : manifest(folder)) {
            EXPECT_NE(row.result, -1) << "unreadable row for " << row.file;
            listed.push_back(row.file);
        }
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(std::adjacent_find(listed.begin(), listed.end()), listed.end()) << "a file listed twice";
        std::vector<std::string> files = filesIn(folder);
        EXPECT_FALSE(files.empty());
        EXPECT_EQ(files, listed);
    }
}

// The committed files are the ones the generator makes.
TEST(HostileCorpus, GeneratorRemakesTheCommittedFiles) {
    TempDir out;
    std::string output;
    ASSERT_EQ(run(buildPath("tests/hostile/make_hostile_corpus") + " '" + dataPath("") + "' '" + out.path() + "'",
                  &output),
              0)
        << output;
    for (const char* folder : {gifFolder, wavFolder}) {
        SCOPED_TRACE(folder);
        std::vector<std::string> made;
        if (DIR* dir = opendir((out.path() + "/" + folder).c_str())) {
            while (dirent* entry = readdir(dir)) {
                std::string name = entry->d_name;
                if (name != "." && name != "..") made.push_back(name);
            }
            closedir(dir);
        }
        std::sort(made.begin(), made.end());
        EXPECT_EQ(made, filesIn(folder));
        for (const std::string& name : made)
            EXPECT_TRUE(readFile(out.path() + "/" + folder + "/" + name) == readFile(dataPath(std::string(folder) + "/" + name)))
                << name;
    }
}

class HostileGif : public ::testing::TestWithParam<Row> {};

TEST_P(HostileGif, MakeTransparent) {
    const Row& row = GetParam();
    const std::string original = readFile(dataPath(std::string(gifFolder) + "/" + row.file));
    TempDir dir;
    const std::string path = dir.file(row.file);
    ASSERT_TRUE(writeFile(path, original));

    // What our reader makes of the first image, for the rewritten picture.
    std::vector<std::uint8_t> ours;
    int screenWidth = 0, screenHeight = 0;
    if (row.outcome == "rewritten") {
        TempDir other;
        writeFile(other.file("x.gif"), original);
        Recorder quiet;
        GifImage image;
        ASSERT_EQ(image.read(other.file("x.gif").c_str(), 0), 1);
        ours = gif_testing::screenPixels(image);
        screenWidth = image.width;
        screenHeight = image.height;
        ASSERT_EQ(static_cast<unsigned>(screenWidth), le16At(original, 6));
        ASSERT_EQ(static_cast<unsigned>(screenHeight), le16At(original, 8));
    }

    Recorder recorder;
    vm::LocalString name(path.c_str());
    EXPECT_EQ(VornNative_makeTransparent(0, name.handle()), row.result);
    EXPECT_EQ(recorder.boxes(), withPrefix(row.boxes, "Error: "));
    EXPECT_EQ(recorder.traces(), withPath(row.traces, path));
    EXPECT_EQ(dir.list(), std::vector<std::string>{row.file}) << "a file other than the picture";

    const std::string after = readFile(path);
    if (row.outcome == "kept") {
        EXPECT_TRUE(after == original) << "the file changed";
        return;
    }
    ASSERT_EQ(row.outcome, "rewritten");
    ASSERT_NE(after, original);
    gif_testing::GiflibPicture p = gif_testing::giflibRead(path);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(after.substr(0, 6), "GIF89a");
    EXPECT_EQ(p.width, screenWidth);
    EXPECT_EQ(p.height, screenHeight);
    ASSERT_EQ(p.frames.size(), 1u);
    const gif_testing::GiflibFrame& f = p.frames[0];
    EXPECT_EQ(f.left, 0);
    EXPECT_EQ(f.top, 0);
    EXPECT_EQ(f.width, screenWidth);
    EXPECT_EQ(f.height, screenHeight);
    EXPECT_TRUE(f.interlaced);
    EXPECT_TRUE(f.pixels == ours) << "the rewritten picture is not the one read";
    ASSERT_FALSE(f.pixels.empty());
    EXPECT_EQ(f.transparentIndex, f.pixels[0]);
    // Where giflib makes sense of the input as well, it sees the same image.
    if (row.boxes.empty()) {
        TempDir again;
        writeFile(again.file("x.gif"), original);
        gif_testing::GiflibPicture input = gif_testing::giflibRead(again.file("x.gif"));
        if (input.ok && !input.frames.empty() && input.width == screenWidth && input.height == screenHeight) {
            EXPECT_TRUE(gif_testing::expectedRead(input, 0).pixels == ours) << "giflib reads the input otherwise";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileGif, ::testing::ValuesIn(manifest(gifFolder)), testName);

class HostileWav : public ::testing::TestWithParam<Row> {};

TEST_P(HostileWav, Wav2au) {
    const Row& row = GetParam();
    const std::string original = readFile(dataPath(std::string(wavFolder) + "/" + row.file));
    TempDir dir;
    const std::string input = dir.file(row.file);
    const std::string output = dir.file("out.au");
    ASSERT_TRUE(writeFile(input, original));

    Recorder recorder;
    vm::LocalString in(input.c_str());
    vm::LocalString out(output.c_str());
    EXPECT_EQ(VornNative_wav2au(0, in.handle(), out.handle()), row.result);
    EXPECT_EQ(recorder.boxes(), withPrefix(row.boxes, "Error: "));
    EXPECT_EQ(recorder.traces(), withPath(row.traces, input));
    EXPECT_TRUE(readFile(input) == original) << "the input changed";

    std::vector<std::string> expected = {row.file};
    if (row.result == 1) expected.push_back("out.au");
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> listed = dir.list();
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, expected);
    if (row.result == 0) return;

    ASSERT_NE(row.outcome, "-");
    const std::uint32_t frames = static_cast<std::uint32_t>(std::stoul(row.outcome));
    const std::string au = readFile(output);
    ASSERT_EQ(au.size(), 24u + frames);
    EXPECT_EQ(au.substr(0, 4), ".snd");
    EXPECT_EQ(be32At(au, 4), 24u);
    EXPECT_EQ(be32At(au, 8), frames);
    EXPECT_EQ(be32At(au, 12), 1u);
    EXPECT_EQ(be32At(au, 16), 8012u);
    EXPECT_EQ(be32At(au, 20), 1u);
    // sox's own reading of it (its warning that the header has no
    // annotation field aside).
    auto soxi = [&](const char* option, std::string* text) {
        return run(std::string("(soxi ") + option + " '" + output + "' 2>/dev/null)", text);
    };
    std::string text;
    ASSERT_EQ(soxi("-c", &text), 0) << text;
    EXPECT_EQ(text, "1\n");
    ASSERT_EQ(soxi("-r", &text), 0) << text;
    EXPECT_EQ(text, "8012\n");
    ASSERT_EQ(soxi("-s", &text), 0) << text;
    EXPECT_EQ(text, std::to_string(frames) + "\n");
    ASSERT_EQ(soxi("-e", &text), 0) << text;
    EXPECT_EQ(text, "u-law\n");
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileWav, ::testing::ValuesIn(manifest(wavFolder)), testName);
