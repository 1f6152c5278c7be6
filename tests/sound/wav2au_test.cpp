#include <gtest/gtest.h>

#include <dirent.h>

#include <cstring>
#include <string>
#include <vector>

#include "native/VornNative.h"
#include "platform/fault.h"
#include "tests/common/test_support.h"
#include "tests/sound/wav_builder.h"

using testing_support::buildPath;
using testing_support::dataPath;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::Recorder;
using testing_support::run;
using testing_support::runInChild;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

int convert(const std::string& in, const std::string& out) {
    vm::LocalString wavName(in.data(), in.size());
    vm::LocalString auName(out.data(), out.size());
    return VornNative_wav2au(0, wavName.handle(), auName.handle());
}

long soxInfo(const std::string& option, const std::string& path) {
    std::string output;
    // soxi warns that a 24-byte AU header leaves no room for an annotation.
    EXPECT_EQ(run("soxi " + option + " '" + path + "' 2>/dev/null | tail -n 1", &output), 0) << path;
    return std::strtol(output.c_str(), nullptr, 10);
}

std::string soxEncoding(const std::string& path) {
    std::string output;
    run("soxi -e '" + path + "' 2>/dev/null | tail -n 1", &output);
    while (!output.empty() && output.back() == '\n') output.pop_back();
    return output;
}

std::vector<std::string> corpus() {
    std::vector<std::string> names;
    DIR* dir = opendir(dataPath("wav").c_str());
    if (dir == nullptr) return names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".wav") == 0) names.push_back(name);
    }
    closedir(dir);
    return names;
}

std::string shellQuoted(const std::string& text) { return "'" + text + "'"; }

}  // namespace

// Every recorded file converts, and sox reads the result as one channel of
// mu-law at 8012 Hz with the frames that frame picking leaves.
TEST(Wav2au, EveryCorpusFileReadsBackWithSox) {
    std::vector<std::string> names = corpus();
    ASSERT_GE(names.size(), 10u);
    TempDir dir;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        std::string in = dataPath("wav/" + name);
        std::string out = dir.file(name + ".au");
        // What the input is, by sox's reading of it.
        long frames = soxInfo("-s", in), channels = soxInfo("-c", in), rate = soxInfo("-r", in);
        long width = soxInfo("-b", in) / 8;
        ASSERT_GT(frames, 0);
        long expected = frames;
        if (rate != 8012) expected = ((frames * width * 8012 / rate) & ~3L) / width;

        Recorder recorder;
        ASSERT_EQ(convert(in, out), 1);
        EXPECT_TRUE(recorder.boxes().empty());
        EXPECT_EQ(soxInfo("-r", out), 8012);
        EXPECT_EQ(soxInfo("-c", out), 1);
        EXPECT_EQ(soxEncoding(out), "u-law");
        EXPECT_EQ(soxInfo("-s", out), expected);
        EXPECT_EQ(static_cast<long>(readFile(out).size()), 24 + expected);
        (void)channels;
    }
}

TEST(Wav2au, OneSecondOfStereo) {
    TempDir dir;
    ASSERT_EQ(convert(dataPath("wav/stereo-s16-44100.wav"), dir.file("out.au")), 1);
    std::string au = readFile(dir.file("out.au"));
    ASSERT_EQ(au.size(), 24u + 8012u);
    EXPECT_EQ(au.substr(0, 24), std::string("\x2e\x73\x6e\x64\0\0\0\x18\0\0\x1f\x4c\0\0\0\x01\0\0\x1f\x4c\0\0\0\x01", 24));
}

// Without resampling, 8-bit input gives exact multiples of 256, which sox
// encodes exactly as we do: the whole data must be equal.
TEST(Wav2au, DataEqualsSoxForUnresampledInput) {
    TempDir dir;
    std::string in = dir.file("tone.wav");
    ASSERT_EQ(run("sox -n -r 8012 -c 2 -b 8 -e unsigned " + shellQuoted(in) + " synth 0.2 sine 440 sine 1000 2>&1"), 0);
    ASSERT_EQ(run("sox -D " + shellQuoted(in) + " -c 1 -t raw -e mu-law " + shellQuoted(dir.file("sox.raw")) +
                  " remix 1 2>&1"),
              0);
    ASSERT_EQ(convert(in, dir.file("ours.au")), 1);
    std::string sox = readFile(dir.file("sox.raw"));
    std::string ours = readFile(dir.file("ours.au"));
    ASSERT_GT(sox.size(), 1000u);
    ASSERT_EQ(ours.size(), 24 + sox.size());
    EXPECT_TRUE(ours.substr(24) == sox);
}

TEST(Wav2au, EmptySoundIsTheHeaderAlone) {
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("in.wav"), wav::pcm(2, 44100, 16, "")));
    Recorder recorder;
    ASSERT_EQ(convert(dir.file("in.wav"), dir.file("out.au")), 1);
    EXPECT_TRUE(recorder.boxes().empty());
    std::string au = readFile(dir.file("out.au"));
    ASSERT_EQ(au.size(), 24u);
    EXPECT_EQ(au.substr(8, 4), std::string("\0\0\0\0", 4));
    EXPECT_EQ(soxInfo("-s", dir.file("out.au")), 0);
}

TEST(Wav2au, InputThatCannotBeReadWritesNothing) {
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("bad.wav"), wav::riff(wav::chunk("fmt ", wav::fmtBody(1, 8000, 0, 16)) +
                                                          wav::chunk("data", "abcd"))));
    ASSERT_TRUE(writeFile(dir.file("old.au"), "old"));
    Recorder recorder;
    EXPECT_EQ(convert(dir.file("missing.wav"), dir.file("out.au")), 0);
    EXPECT_EQ(convert(dir.file("bad.wav"), dir.file("old.au")), 0);
    EXPECT_FALSE(fileExists(dir.file("out.au")));
    EXPECT_EQ(readFile(dir.file("old.au")), "old");
    EXPECT_TRUE(recorder.boxes().empty());
}

TEST(Wav2au, OutputMayBeTheInput) {
    TempDir dir;
    std::string path = dir.file("sound.wav");
    ASSERT_TRUE(writeFile(path, readFile(dataPath("wav/stereo-s16-44100.wav"))));
    ASSERT_EQ(convert(path, path), 1);
    EXPECT_EQ(readFile(path).size(), 24u + 8012u);
    EXPECT_EQ(soxInfo("-s", path), 8012);
}

// With the output over the input, a failed write must not cost the input.
TEST(Wav2au, FailedWriteOverTheInputKeepsTheInput) {
    TempDir dir;
    std::string path = dir.file("sound.wav");
    std::string original = readFile(dataPath("wav/stereo-s16-44100.wav"));
    ASSERT_TRUE(writeFile(path, original));
    Recorder recorder;
    fault::Scope scope;
    fault::failAt(fault::Kind::Write, 1, true);
    EXPECT_EQ(convert(path, path), 0);
    EXPECT_EQ(fault::injected(fault::Kind::Write), 1);
    EXPECT_EQ(recorder.boxCount("Cannot write file"), 1);
    EXPECT_TRUE(readFile(path) == original);
    EXPECT_EQ(dir.list().size(), 1u);
}

// Each operation of each kind fails in turn: the method says so, and no
// output file appears.
TEST(Wav2au, EveryFailureIsReported) {
    TempDir dir;
    std::string in = dir.file("in.wav");
    ASSERT_TRUE(writeFile(in, readFile(dataPath("wav/list-and-cue-before-data.wav"))));
    const fault::Kind kinds[] = {fault::Kind::Alloc, fault::Kind::Open, fault::Kind::Read, fault::Kind::Write};
    for (fault::Kind kind : kinds) {
        long total;
        {
            fault::Scope scope;
            ASSERT_EQ(convert(in, dir.file("out.au")), 1);
            total = fault::count(kind);
            std::remove(dir.file("out.au").c_str());
        }
        ASSERT_GT(total, 0);
        for (long nth = 1; nth <= total; ++nth) {
            SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(kind) << " nth " << nth);
            Recorder recorder;
            fault::Scope scope;
            fault::failAt(kind, nth);
            int result = convert(in, dir.file("out.au"));
            if (fault::injected(kind) == 0) continue;
            EXPECT_EQ(result, 0);
            EXPECT_FALSE(fileExists(dir.file("out.au")));
            std::remove(dir.file("out.au").c_str());
        }
        EXPECT_EQ(dir.list().size(), 1u);
    }
}

TEST(Wav2au, NamesLongerThan255BytesAreRefused) {
    TempDir dir;
    std::string in = dir.file("in.wav");
    ASSERT_TRUE(writeFile(in, readFile(dataPath("wav/mono-s16-8012.wav"))));
    // The first 255 characters of the long name are an existing file.
    std::string prefix = dir.path() + "/";
    prefix += std::string(255 - prefix.size(), 'k');
    ASSERT_EQ(prefix.size(), 255u);
    ASSERT_TRUE(writeFile(prefix, "keep me"));
    std::string longName = prefix + std::string(45, 'x');
    Recorder recorder;
    EXPECT_EQ(convert(in, longName), 0);
    EXPECT_EQ(convert(longName, dir.file("out.au")), 0);
    EXPECT_EQ(readFile(prefix), "keep me");
    EXPECT_FALSE(fileExists(dir.file("out.au")));
    EXPECT_EQ(convert(in, prefix), 1);  // 255 bytes is still a name
}

// --- The vorn command ----------------------------------------------------

TEST(VornWav2au, ConvertsAndRefusesLongNames) {
    TempDir dir;
    std::string vorn = buildPath("vorn");
    std::string in = dir.file("in.wav");
    ASSERT_TRUE(writeFile(in, readFile(dataPath("wav/tone-u8-mono-11025.wav"))));
    std::string output;
    EXPECT_EQ(run(shellQuoted(vorn) + " wav2au " + shellQuoted(in) + " " + shellQuoted(dir.file("out.au")) + " 2>&1",
                  &output),
              0)
        << output;
    EXPECT_EQ(soxInfo("-r", dir.file("out.au")), 8012);

    std::string prefix = dir.path() + "/";
    prefix += std::string(255 - prefix.size(), 'k');
    ASSERT_TRUE(writeFile(prefix, "keep me"));
    std::string longName = prefix + std::string(300 - 255, 'x');
    ASSERT_EQ(longName.size(), 300u);
    EXPECT_NE(run(shellQuoted(vorn) + " wav2au " + shellQuoted(in) + " " + shellQuoted(longName) + " 2>&1", &output),
              0);
    EXPECT_EQ(readFile(prefix), "keep me");
}

namespace {
struct CommandLine {
    std::string text;
};
int runCommand(void* context) {
    return std::system(static_cast<CommandLine*>(context)->text.c_str()) == 0 ? 0 : 1;
}
}  // namespace

// The disk fills (a file size limit) while the AU file is written over the
// input: the command fails and the input is as it was.
TEST(VornWav2au, FullDiskOverTheInputKeepsTheInput) {
    TempDir dir;
    std::string path = dir.file("sound.wav");
    std::string original = readFile(dataPath("wav/stereo-s16-44100.wav"));
    ASSERT_TRUE(writeFile(path, original));
    CommandLine command{shellQuoted(buildPath("vorn")) + " wav2au " + shellQuoted(path) + " " + shellQuoted(path) +
                        " 2>" + shellQuoted(dir.file("boxes"))};
    EXPECT_EQ(runInChild(runCommand, &command, false, 4096), 1);
    EXPECT_TRUE(readFile(path) == original);
    EXPECT_EQ(readFile(dir.file("boxes")), "Error: Cannot write file\n");
}
