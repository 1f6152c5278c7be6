#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/fault.h"
#include "platform/global_memory.h"
#include "sound/sound_clip.h"
#include "tests/common/test_support.h"
#include "tests/sound/wav_builder.h"

using testing_support::dataPath;
using testing_support::readFile;
using testing_support::Recorder;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

const char noMemory[] = "Sorry, not enough memory";

struct Loaded {
    TempDir dir;
    SoundClip clip;
    int result = 0;
    explicit Loaded(const std::string& bytes) {
        std::string path = dir.file("in.wav");
        EXPECT_TRUE(writeFile(path, bytes));
        result = clip.readWave(path.c_str());
    }
    std::string data() const {
        return clip.samples != nullptr ? std::string(reinterpret_cast<const char*>(clip.samples),
                                                     static_cast<std::size_t>(clip.sampleBytes))
                                       : std::string();
    }
};

// A mono 8-bit sound whose byte i is i (mod 256).
std::string counting8(int bytes) {
    std::string data;
    for (int i = 0; i < bytes; ++i) data += static_cast<char>(i & 0xFF);
    return data;
}

std::uint16_t sample16(const SoundClip& clip, int frame) {
    const std::uint8_t* at = clip.samples + frame * clip.format->blockAlign;
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

}  // namespace

// --- Reading -------------------------------------------------------------

TEST(ReadWave, CanonicalFileLoadsFormatAndFrames) {
    Recorder recorder;
    Loaded in(wav::pcm(2, 44100, 16, wav::samples16({1, -1, 2, -2, 3})));  // 10 bytes: 2 frames and a half
    ASSERT_EQ(in.result, 1);
    EXPECT_EQ(in.clip.format->formatTag, 1);
    EXPECT_EQ(in.clip.format->channels, 2);
    EXPECT_EQ(in.clip.format->sampleRate, 44100);
    EXPECT_EQ(in.clip.format->byteRate, 176400);
    EXPECT_EQ(in.clip.format->blockAlign, 4);
    EXPECT_EQ(in.clip.format->bitsPerSample, 16);
    EXPECT_EQ(in.clip.sampleBytes, 10);
    EXPECT_EQ(in.clip.frameCount, 2);
    EXPECT_EQ(in.clip.ownsSamples, 1);
    EXPECT_EQ(in.data(), wav::samples16({1, -1, 2, -2, 3}));
    EXPECT_EQ(in.clip.samples[10], 0);  // the extra byte after the data
    EXPECT_TRUE(recorder.boxes().empty());
}

TEST(ReadWave, CorpusStereoSecond) {
    SoundClip clip;
    ASSERT_EQ(clip.readWave(dataPath("wav/stereo-s16-44100.wav").c_str()), 1);
    EXPECT_EQ(clip.sampleBytes, 176400);
    EXPECT_EQ(clip.frameCount, 44100);
    std::string file = readFile(dataPath("wav/stereo-s16-44100.wav"));
    EXPECT_EQ(std::memcmp(clip.samples, file.data() + file.size() - 176400, 176400), 0);
}

TEST(ReadWave, FormatExtensionBytesAreKept) {
    SoundClip clip;
    ASSERT_EQ(clip.readWave(dataPath("wav/mono-s24-48000.wav").c_str()), 1);
    std::string file = readFile(dataPath("wav/mono-s24-48000.wav"));
    std::size_t fmt = file.find("fmt ");
    ASSERT_NE(fmt, std::string::npos);
    ASSERT_EQ(static_cast<unsigned char>(file[fmt + 4]), 40);
    EXPECT_EQ(std::memcmp(clip.format, file.data() + fmt + 8, 40), 0);
    EXPECT_EQ(clip.format->bitsPerSample, 24);
    EXPECT_EQ(clip.format->blockAlign, 3);
}

// The bytes "data" inside a LIST comment and a cue point must not be taken
// for the data chunk.
TEST(ReadWave, DataSpelledInsideEarlierChunksIsNotTheData) {
    SoundClip clip;
    ASSERT_EQ(clip.readWave(dataPath("wav/list-and-cue-before-data.wav").c_str()), 1);
    EXPECT_EQ(clip.sampleBytes, 4410);
    EXPECT_EQ(clip.frameCount, 2205);
    std::string file = readFile(dataPath("wav/list-and-cue-before-data.wav"));
    EXPECT_EQ(std::memcmp(clip.samples, file.data() + file.size() - 4410, 4410), 0);
}

TEST(ReadWave, WalkHonoursThePadByteAfterAnOddChunk) {
    std::string text = "odd data";  // 9 bytes with the zero: padded to 10
    text += '\0';
    Loaded in(wav::riff(wav::chunk("fmt ", wav::fmtBody(1, 8000, 2, 16)) + wav::chunk("LIST", text) +
                        wav::chunk("data", wav::samples16({7, 8}))));
    ASSERT_EQ(in.result, 1);
    EXPECT_EQ(in.data(), wav::samples16({7, 8}));
}

// Files that only the byte scan makes sense of still load.
TEST(ReadWave, ByteScanIsTheFallback) {
    struct Case {
        const char* name;
        std::string between;  // what lies between the format body and "data"
    };
    const Case cases[] = {
        {"odd chunk without its pad byte", wav::chunk("note", "abc", false)},
        {"junk that is no chunk", "xyz"},
        {"chunk whose length runs past the end", "JUNK" + wav::le32(0x7FFFFFF0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Loaded in(wav::riff(wav::chunk("fmt ", wav::fmtBody(1, 8000, 2, 16)) + c.between +
                            wav::chunk("data", wav::samples16({0x0101, 0x0202}))));
        ASSERT_EQ(in.result, 1);
        EXPECT_EQ(in.data(), wav::samples16({0x0101, 0x0202}));
    }
}

TEST(ReadWave, FileWithoutRiffHeaderLoads) {
    Loaded in(std::string("WAVEfmt ") + wav::le32(16) + wav::fmtBody(1, 8000, 2, 16) +
              wav::chunk("data", wav::samples16({5, 6, 7})));
    ASSERT_EQ(in.result, 1);
    EXPECT_EQ(in.clip.frameCount, 3);
    EXPECT_EQ(in.data(), wav::samples16({5, 6, 7}));
}

TEST(ReadWave, EmptyDataChunk) {
    Recorder recorder;
    Loaded in(wav::pcm(1, 8000, 16, ""));
    ASSERT_EQ(in.result, 1);
    EXPECT_EQ(in.clip.sampleBytes, 0);
    EXPECT_EQ(in.clip.frameCount, 0);
    ASSERT_NE(in.clip.samples, nullptr);
    EXPECT_EQ(in.clip.samples[0], 0);
    EXPECT_TRUE(recorder.boxes().empty());
}

TEST(ReadWave, FailuresWithoutAMessage) {
    const std::string fmt = wav::chunk("fmt ", wav::fmtBody(1, 8000, 2, 16));
    const std::string data = wav::chunk("data", wav::samples16({1, 2}));
    const std::string fmtLengthOnly = "RIFF" + wav::le32(0) + "WAVEfmt ";
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"no WAVE", "RIFF" + wav::le32(20) + "WAVX" + fmt + data},
        {"no fmt", wav::riff(data)},
        {"data before fmt", wav::riff(data + fmt)},
        {"no data", wav::riff(fmt)},
        {"fmt of 0 bytes", wav::riff(wav::chunk("fmt ", "") + data)},
        {"fmt of 14 bytes", wav::riff(wav::chunk("fmt ", wav::fmtBody(1, 8000, 2, 16).substr(0, 14)) + data)},
        {"fmt of 15 bytes", wav::riff(wav::chunk("fmt ", wav::fmtBody(1, 8000, 2, 16).substr(0, 15)) + data)},
        {"blockAlign 0", wav::riff(wav::chunk("fmt ", wav::fmtBody(1, 8000, 0, 16)) + data)},
        {"channels 0", wav::riff(wav::chunk("fmt ", wav::fmtBody(0, 8000, 2, 16)) + data)},
        {"blockAlign below channels", wav::riff(wav::chunk("fmt ", wav::fmtBody(2, 8000, 1, 8)) + data)},
        {"sampleRate 0", wav::riff(wav::chunk("fmt ", wav::fmtBody(1, 0, 2, 16)) + data)},
        {"sampleRate negative", wav::riff(wav::chunk("fmt ", wav::fmtBody(1, -8000, 2, 16)) + data)},
        {"ends inside the fmt length", fmtLengthOnly + "\x10"},
        {"ends inside the fmt body", fmtLengthOnly + wav::le32(16) + wav::fmtBody(1, 8000, 2, 16).substr(0, 10)},
        {"fmt length of 4 GB", fmtLengthOnly + wav::le32(0xFFFFFFFF) + wav::fmtBody(1, 8000, 2, 16) + data},
        {"ends inside the data length", wav::riff(fmt) + "data\x04"},
        {"ends inside the data length after junk", wav::riff(fmt) + "xdata\x04"},
        {"empty file", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recorder recorder;
        Loaded in(c.bytes);
        EXPECT_EQ(in.result, 0);
        EXPECT_TRUE(recorder.boxes().empty()) << recorder.boxes().front();
    }
}

TEST(ReadWave, MissingFileFailsSilently) {
    Recorder recorder;
    SoundClip clip;
    EXPECT_EQ(clip.readWave("/nonexistent/dir/x.wav"), 0);
    EXPECT_TRUE(recorder.boxes().empty());
}

TEST(ReadWave, FileEndingInsideTheDataLoadsWhatArrived) {
    struct Case {
        const char* name;
        std::uint32_t declared;
    };
    const Case cases[] = {{"a few bytes short", 12}, {"2 GB", 0x80000000u}, {"4 GB - 1", 0xFFFFFFFFu}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recorder recorder;
        std::string head = wav::riff(wav::chunk("fmt ", wav::fmtBody(1, 8000, 2, 16))) + "data" + wav::le32(c.declared);
        Loaded in(head + "\x01\x02\x03\x04\x05");
        ASSERT_EQ(in.result, 1);
        EXPECT_EQ(in.clip.sampleBytes, 5);
        EXPECT_EQ(in.clip.frameCount, 2);
        EXPECT_EQ(in.data(), "\x01\x02\x03\x04\x05");
        EXPECT_EQ(in.clip.samples[5], 0);
        // The block was sized by what the file holds, not by the length field.
        EXPECT_LE(GlobalSize(GlobalHandle(in.clip.samples)), 6u);
        EXPECT_TRUE(recorder.boxes().empty());
    }
}

TEST(ReadWave, ReadErrorIsShownAndFails) {
    std::string bytes = wav::pcm(1, 8000, 16, wav::samples16({1, 2, 3}));
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("in.wav"), bytes));
    for (long nth = 1;; ++nth) {
        Recorder recorder;
        fault::Scope scope;
        fault::failAt(fault::Kind::Read, nth);
        SoundClip clip;
        int result = clip.readWave(dir.file("in.wav").c_str());
        if (fault::injected(fault::Kind::Read) == 0) {
            EXPECT_EQ(result, 1);
            EXPECT_GT(nth, 1);
            break;
        }
        SCOPED_TRACE(nth);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(recorder.boxCount("Cannot read file"), 1);
    }
}

TEST(ReadWave, AllocationFailures) {
    std::string bytes = wav::pcm(1, 8000, 16, wav::samples16({1, 2, 3}));
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("in.wav"), bytes));
    for (long nth = 1;; ++nth) {
        Recorder recorder;
        SoundClip clip;  // its format block is not part of the sweep
        fault::Scope scope;
        fault::failAt(fault::Kind::Alloc, nth);
        int result = clip.readWave(dir.file("in.wav").c_str());
        if (fault::injected(fault::Kind::Alloc) == 0) {
            EXPECT_EQ(result, 1);
            EXPECT_GT(nth, 1);
            break;
        }
        SCOPED_TRACE(nth);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(recorder.boxCount(noMemory), 1);
    }
}

// The scan takes one byte at a time, but the reads are buffered: a
// megabyte passed over costs a handful of platform reads, not a million.
TEST(ReadWave, ScanAndWalkAreBuffered) {
    const std::string fmt = wav::chunk("fmt ", wav::fmtBody(1, 8000, 2, 16));
    const std::string data = wav::chunk("data", wav::samples16({9, 9}));
    struct Case {
        const char* name;
        std::string between;
    };
    const Case cases[] = {
        {"walked over", wav::chunk("JUNK", std::string(1 << 20, 'j'))},
        {"scanned over", std::string((1 << 20) + 1, 'j')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ASSERT_TRUE(writeFile(dir.file("in.wav"), std::string(1 << 20, 'x') + wav::riff(fmt + c.between + data)));
        fault::Scope scope;
        SoundClip clip;
        ASSERT_EQ(clip.readWave(dir.file("in.wav").c_str()), 1);
        EXPECT_EQ(clip.sampleBytes, 4);
        EXPECT_LT(fault::count(fault::Kind::Read), 200);
    }
}

// --- Channel reduction ---------------------------------------------------

TEST(ReduceChannels, StereoSecondKeepsTheLeftChannel) {
    SoundClip clip;
    ASSERT_EQ(clip.readWave(dataPath("wav/stereo-s16-44100.wav").c_str()), 1);
    std::vector<std::uint16_t> left;
    for (int i = 0; i < clip.frameCount; ++i) left.push_back(sample16(clip, i));
    ASSERT_EQ(clip.reduceChannels(1), 1);
    EXPECT_EQ(clip.sampleBytes, 88200);
    EXPECT_EQ(clip.frameCount, 44100);
    EXPECT_EQ(clip.format->channels, 1);
    EXPECT_EQ(clip.format->blockAlign, 2);
    EXPECT_EQ(clip.format->byteRate, 88200);
    EXPECT_EQ(clip.format->sampleRate, 44100);
    EXPECT_EQ(clip.format->bitsPerSample, 16);
    EXPECT_EQ(clip.ownsSamples, 1);
    for (int i = 0; i < clip.frameCount; ++i) ASSERT_EQ(sample16(clip, i), left[i]) << i;

    ASSERT_EQ(clip.resample(8012), 1);
    EXPECT_EQ(clip.sampleBytes, 16024);
    EXPECT_EQ(clip.frameCount, 8012);
    EXPECT_EQ(clip.format->sampleRate, 8012);
    EXPECT_EQ(clip.format->byteRate, 16024);
}

TEST(ReduceChannels, FirstChannelOfEachLayout) {
    struct Case {
        const char* name;
        unsigned channels, bits;
        std::string data;
        std::string kept;
    };
    const Case cases[] = {
        {"8-bit stereo", 2, 8, "\x10\x20\x11\x21\x12\x22", "\x10\x11\x12"},
        {"16-bit quad", 4, 16, wav::samples16({1, 2, 3, 4, 5, 6, 7, 8}), wav::samples16({1, 5})},
        {"24-bit stereo", 2, 24, "abcdefABCDEF", "abcABC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Loaded in(wav::pcm(c.channels, 22050, c.bits, c.data));
        ASSERT_EQ(in.result, 1);
        ASSERT_EQ(in.clip.reduceChannels(1), 1);
        EXPECT_EQ(in.data(), c.kept);
        EXPECT_EQ(in.clip.format->channels, 1);
        EXPECT_EQ(in.clip.format->blockAlign, (c.bits + 7) / 8);
    }
}

TEST(ReduceChannels, CorpusQuadKeepsOnlyTheFirstChannel) {
    SoundClip clip;
    ASSERT_EQ(clip.readWave(dataPath("wav/quad-s16-22050.wav").c_str()), 1);
    ASSERT_EQ(clip.format->channels, 4);
    std::vector<std::uint16_t> first;
    for (int i = 0; i < clip.frameCount; ++i) first.push_back(sample16(clip, i));
    ASSERT_EQ(clip.reduceChannels(1), 1);
    ASSERT_EQ(clip.frameCount, static_cast<int>(first.size()));
    for (int i = 0; i < clip.frameCount; ++i) ASSERT_EQ(sample16(clip, i), first[i]) << i;
}

TEST(ReduceChannels, CountsThatChangeNothing) {
    const int wanted[] = {0, -1, 3, 4};
    for (int w : wanted) {
        SCOPED_TRACE(w);
        Loaded in(wav::pcm(2, 8000, 16, wav::samples16({1, 2, 3, 4})));
        const std::uint8_t* before = in.clip.samples;
        EXPECT_EQ(in.clip.reduceChannels(w), 1);
        EXPECT_EQ(in.clip.samples, before);
        EXPECT_EQ(in.clip.format->channels, 2);
        EXPECT_EQ(in.clip.sampleBytes, 8);
    }
    Loaded mono(wav::pcm(1, 8000, 16, wav::samples16({1, 2})));
    const std::uint8_t* before = mono.clip.samples;
    EXPECT_EQ(mono.clip.reduceChannels(2), 1);  // widening is never done
    EXPECT_EQ(mono.clip.reduceChannels(1), 1);
    EXPECT_EQ(mono.clip.samples, before);
    EXPECT_EQ(mono.clip.format->channels, 1);
}

// The partial frame at the end is copied as far as the data goes and the
// block holds nothing uninitialised.
TEST(ReduceChannels, PartialLastFrame) {
    Loaded in(wav::pcm(2, 8000, 16, "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B"));  // 2 frames and 3 bytes
    ASSERT_EQ(in.result, 1);
    ASSERT_EQ(in.clip.frameCount, 2);
    ASSERT_EQ(in.clip.reduceChannels(1), 1);
    EXPECT_EQ(in.clip.sampleBytes, 5);  // (11 / 2) * 1
    EXPECT_EQ(in.clip.frameCount, 2);
    EXPECT_EQ(in.data(), std::string("\x01\x02\x05\x06\x09", 5));
}

TEST(ReduceChannels, AllocationFailureLeavesTheSound) {
    Loaded in(wav::pcm(2, 8000, 16, wav::samples16({1, 2, 3, 4})));
    Recorder recorder;
    fault::Scope scope;
    fault::failAt(fault::Kind::Alloc, 1);
    const std::uint8_t* before = in.clip.samples;
    EXPECT_EQ(in.clip.reduceChannels(1), 0);
    EXPECT_EQ(recorder.boxCount(noMemory), 1);
    EXPECT_EQ(in.clip.samples, before);
    EXPECT_EQ(in.clip.format->channels, 2);
    EXPECT_EQ(in.clip.sampleBytes, 8);
}

// --- Resampling ----------------------------------------------------------

TEST(Resample, From11025PicksFramesBySinglePrecisionStep) {
    Loaded in(wav::pcm(1, 11025, 8, counting8(1000)));
    ASSERT_EQ(in.result, 1);
    ASSERT_EQ(in.clip.resample(8012), 1);
    EXPECT_EQ(in.clip.sampleBytes, 724);  // 726 rounded down to a multiple of 4
    EXPECT_EQ(in.clip.frameCount, 724);
    EXPECT_EQ(in.clip.format->sampleRate, 8012);
    EXPECT_EQ(in.clip.format->byteRate, 8012);
    const int expected[] = {0, 1, 2, 4, 5, 6, 8, 9, 11, 12, 13, 15};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(in.clip.samples[i], expected[i]) << i;
}

// 11025 / 8012 in single precision is 1.376060962677, a little more than the
// exact ratio: output frame 4595 lies at 6323.0000x, where the exact ratio
// gives 6322.9998.
TEST(Resample, StepIsSinglePrecision) {
    EXPECT_NEAR(static_cast<double>(static_cast<float>(11025.0 / 8012.0)), 1.376060962677, 1e-12);
    std::string data;
    for (int i = 0; i < 8000; ++i) data += wav::le16(static_cast<unsigned>(i));
    Loaded in(wav::pcm(1, 11025, 16, data));
    ASSERT_EQ(in.clip.resample(8012), 1);
    ASSERT_GT(in.clip.frameCount, 4596);
    EXPECT_EQ(sample16(in.clip, 4594), 6321);
    EXPECT_EQ(sample16(in.clip, 4595), 6323);
}

TEST(Resample, From8000RepeatsFrames) {
    Loaded in(wav::pcm(1, 8000, 8, counting8(2000)));
    ASSERT_EQ(in.clip.resample(8012), 1);
    EXPECT_EQ(in.clip.sampleBytes, 2000);  // 2003 rounded down
    EXPECT_EQ(in.clip.samples[0], 0);
    EXPECT_EQ(in.clip.samples[1], 0);
    EXPECT_EQ(in.clip.samples[2], 1);
}

TEST(Resample, RatesThatChangeNothing) {
    const int rates[] = {999, 100001, 0, -8012, 8012};
    for (int r : rates) {
        SCOPED_TRACE(r);
        Loaded in(wav::pcm(1, 8012, 16, wav::samples16({1, 2, 3})));
        const std::uint8_t* before = in.clip.samples;
        EXPECT_EQ(in.clip.resample(r), 1);
        EXPECT_EQ(in.clip.samples, before);
        EXPECT_EQ(in.clip.sampleBytes, 6);
        EXPECT_EQ(in.clip.format->sampleRate, 8012);
    }
    Loaded edge(wav::pcm(1, 2000, 8, counting8(10)));
    EXPECT_EQ(edge.clip.resample(1000), 1);
    EXPECT_EQ(edge.clip.format->sampleRate, 1000);
    Loaded top(wav::pcm(1, 2000, 8, counting8(10)));
    EXPECT_EQ(top.clip.resample(100000), 1);
    EXPECT_EQ(top.clip.format->sampleRate, 100000);
    EXPECT_EQ(top.clip.sampleBytes, 500);
}

// The partial frame behind the last whole one: copied as far as the data
// goes, the rest zero, nothing read outside the (exact) block.
TEST(Resample, PartialLastFrameAfterReduction) {
    std::string data = wav::samples16({0x0101, 0x1111, 0x0202, 0x2222, 0x0303, 0x3333, 0x0404, 0x4444}) + "\x55\x66";
    Loaded in(wav::pcm(2, 2000, 16, data));
    ASSERT_EQ(in.clip.reduceChannels(1), 1);
    ASSERT_EQ(in.clip.sampleBytes, 9);
    ASSERT_EQ(in.clip.resample(8012), 1);
    EXPECT_EQ(in.clip.sampleBytes, 36);
    ASSERT_EQ(in.clip.frameCount, 18);
    EXPECT_EQ(sample16(in.clip, 16), 0x0404);
    EXPECT_EQ(sample16(in.clip, 17), 0x0055);
}

TEST(Resample, AllocationFailureLeavesTheSound) {
    Loaded in(wav::pcm(1, 11025, 8, counting8(100)));
    Recorder recorder;
    fault::Scope scope;
    fault::failAt(fault::Kind::Alloc, 1);
    const std::uint8_t* before = in.clip.samples;
    EXPECT_EQ(in.clip.resample(8012), 0);
    EXPECT_EQ(recorder.boxCount(noMemory), 1);
    EXPECT_EQ(in.clip.samples, before);
    EXPECT_EQ(in.clip.format->sampleRate, 11025);
}

// A length of 2 GB or more cannot be a sample count.
TEST(Resample, LengthBeyond32BitsIsOutOfMemory) {
    Loaded in(wav::pcm(1, 1, 8, counting8(300000)));
    Recorder recorder;
    EXPECT_EQ(in.clip.resample(8012), 0);
    EXPECT_EQ(recorder.boxCount(noMemory), 1);
    EXPECT_EQ(in.clip.sampleBytes, 300000);
}

// --- Empty sounds --------------------------------------------------------

TEST(EmptySound, ConversionsNeedNoBlockAndRaiseNoAlarm) {
    struct Case {
        const char* name;
        std::string file;
    };
    const Case cases[] = {
        {"empty stereo data", wav::pcm(2, 44100, 16, "")},
        {"resampled below 4 bytes", wav::pcm(1, 44100, 16, wav::samples16({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recorder recorder;
        Loaded in(c.file);
        ASSERT_EQ(in.result, 1);
        EXPECT_EQ(in.clip.reduceChannels(1), 1);
        EXPECT_EQ(in.clip.resample(8012), 1);
        EXPECT_EQ(in.clip.sampleBytes, 0);
        EXPECT_EQ(in.clip.frameCount, 0);
        std::string au = in.dir.file("out.au");
        EXPECT_EQ(in.clip.writeAu(au.c_str()), 1);
        EXPECT_EQ(readFile(au), std::string("\x2e\x73\x6e\x64\0\0\0\x18\0\0\0\0\0\0\0\x01\0\0\x1f\x4c\0\0\0\x01", 24));
        EXPECT_TRUE(recorder.boxes().empty());
    }
}

// Found by fuzzing: a huge rate times the new frame size overflowed. The
// field is kept as the file would hold it, wrapped to 32 bits.
TEST(Conversions, ByteRateOfHugeRatesWraps) {
    Loaded in(wav::pcm(2, 0x7FFFFFFF, 16, wav::samples16({1, 2, 3, 4})));
    ASSERT_EQ(in.result, 1);
    ASSERT_EQ(in.clip.reduceChannels(1), 1);
    EXPECT_EQ(static_cast<std::uint32_t>(in.clip.format->byteRate), 0xFFFFFFFEu);
    Loaded wide(wav::riff(wav::chunk("fmt ", wav::fmtBody(1, 50000, 60000, 8)) + wav::chunk("data", std::string(60000, 'a'))));
    ASSERT_EQ(wide.result, 1);
    ASSERT_EQ(wide.clip.resample(100000), 1);
    EXPECT_EQ(static_cast<std::uint32_t>(wide.clip.format->byteRate), 60000u * 100000u);
    EXPECT_EQ(wide.clip.frameCount, 2);
}
