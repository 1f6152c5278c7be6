#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "platform/fault.h"
#include "sound/sound_clip.h"
#include "tests/common/test_support.h"
#include "tests/sound/wav_builder.h"

using testing_support::fileExists;
using testing_support::readFile;
using testing_support::Recorder;
using testing_support::run;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

// The G.711 decoder: the middle of the quantisation interval of a code.
int decodeMuLaw(std::uint8_t code) {
    int u = ~code & 0xFF;
    int t = (((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4);
    return (u & 0x80) ? 0x84 - t : t - 0x84;
}

// Converts a WAV file with our writer and returns the AU file.
std::string converted(const TempDir& dir, const std::string& wavBytes) {
    std::string in = dir.file("in.wav"), out = dir.file("out.au");
    EXPECT_TRUE(writeFile(in, wavBytes));
    SoundClip clip;
    EXPECT_EQ(clip.readWave(in.c_str()), 1);
    EXPECT_EQ(clip.writeAu(out.c_str()), 1);
    return readFile(out);
}

}  // namespace

TEST(MuLaw, EncoderTable) {
    struct Case {
        int sample;
        int code;
    };
    const Case cases[] = {
        {0, 0xFF},     {-1, 0x7F},     {1000, 0xCE},   {-1000, 0x4E}, {32767, 0x80},
        {-32767, 0x00}, {-32768, 0x00}, {32635, 0x80}, {1, 0xFF},     {-32635, 0x00},
    };
    for (const Case& c : cases) EXPECT_EQ(encodeMuLaw(c.sample), c.code) << c.sample;
}

// Every 16-bit value lands in the code whose interval holds it (for values
// inside the clip range), and codes never go backwards as values rise.
TEST(MuLaw, EveryValueAgainstTheG711Decoder) {
    int previous = decodeMuLaw(encodeMuLaw(-32768));
    for (int s = -32768; s <= 32767; ++s) {
        std::uint8_t code = encodeMuLaw(s);
        int decoded = decodeMuLaw(code);
        int exponent = ((~code) & 0x70) >> 4;
        if (s >= -32635 && s <= 32635) {
            ASSERT_LE(std::abs(decoded - s), 4 << exponent) << s;
        }
        ASSERT_GE(decoded, previous) << s;
        previous = decoded;
    }
}

// sox's encoder works on 14 bits, rounding: on multiples of 4 the two must
// agree exactly.
TEST(MuLaw, AgreesWithSoxOnEvery14BitValue) {
    TempDir dir;
    std::string raw;
    for (int s = -32768; s <= 32764; s += 4) raw += wav::le16(static_cast<unsigned>(s) & 0xFFFF);
    ASSERT_TRUE(writeFile(dir.file("in.raw"), raw));
    std::string output;
    ASSERT_EQ(run("sox -D -t raw -e signed -b 16 -c 1 -r 8000 '" + dir.file("in.raw") +
                      "' -t raw -e mu-law '" + dir.file("out.raw") + "' 2>&1",
                  &output),
              0)
        << output;
    std::string codes = readFile(dir.file("out.raw"));
    ASSERT_EQ(codes.size(), raw.size() / 2);
    for (std::size_t i = 0; i < codes.size(); ++i) {
        int s = -32768 + static_cast<int>(i) * 4;
        ASSERT_EQ(encodeMuLaw(s), static_cast<std::uint8_t>(codes[i])) << s;
    }
}

TEST(WriteAu, HeaderAndEightBitSamples) {
    TempDir dir;
    std::string au = converted(dir, wav::pcm(1, 8012, 8, std::string("\x80\xff\x00\x01", 4)));
    const char header[] = "\x2e\x73\x6e\x64\0\0\0\x18\0\0\0\x04\0\0\0\x01\0\0\x1f\x4c\0\0\0\x01";
    ASSERT_EQ(au.size(), 28u);
    EXPECT_EQ(au.substr(0, 24), std::string(header, 24));
    EXPECT_EQ(au.substr(24), std::string("\xff\x80\x00\x00", 4));
}

TEST(WriteAu, SixteenBitSamplesAndWiderOnesByTheirLowTwoBytes) {
    TempDir dir;
    std::string au16 = converted(dir, wav::pcm(1, 8012, 16, wav::samples16({0, -1, 1000, -1000, 32767, -32768})));
    EXPECT_EQ(au16.substr(24), std::string("\xff\x7f\xce\x4e\x80\x00", 6));
    // 24-bit: 0x7F03E8 → low two bytes 1000; 0x80FC18 → -1000.
    std::string au24 = converted(dir, wav::pcm(1, 8012, 24, "\xe8\x03\x7f\x18\xfc\x80"));
    EXPECT_EQ(au24.substr(24), "\xce\x4e");
    // Only the first channel of each frame is encoded.
    std::string stereo = converted(dir, wav::pcm(2, 8012, 16, wav::samples16({1000, 0, -1000, 0})));
    EXPECT_EQ(stereo.substr(8, 4), std::string("\0\0\0\x02", 4));
    EXPECT_EQ(stereo.substr(20, 4), std::string("\0\0\0\x02", 4));
    EXPECT_EQ(stereo.substr(24), "\xce\x4e");
}

// A 16-bit sound with one-byte frames: the last frame has no second byte.
TEST(WriteAu, OneByteFramesOfWideSamplesStayInsideTheBlock) {
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("in.wav"),
                          wav::riff(wav::chunk("fmt ", wav::fmtBody(1, 4006, 1, 16)) + wav::chunk("data", "\x10\x20\x30\x40"))));
    SoundClip clip;
    ASSERT_EQ(clip.readWave(dir.file("in.wav").c_str()), 1);
    ASSERT_EQ(clip.resample(8012), 1);
    ASSERT_EQ(clip.frameCount, 8);
    EXPECT_EQ(clip.writeAu(dir.file("out.au").c_str()), 1);
    std::string au = readFile(dir.file("out.au"));
    ASSERT_EQ(au.size(), 32u);
    EXPECT_EQ(static_cast<std::uint8_t>(au[31]), encodeMuLaw(0x40));
}

TEST(WriteAu, FileThatCannotBeCreated) {
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("in.wav"), wav::pcm(1, 8012, 8, "\x80")));
    SoundClip clip;
    ASSERT_EQ(clip.readWave(dir.file("in.wav").c_str()), 1);
    Recorder recorder;
    EXPECT_EQ(clip.writeAu(dir.file("missing/out.au").c_str()), 0);
    EXPECT_TRUE(recorder.boxes().empty());
}

// A failed write shows one box for the file, whatever the number of frames,
// and leaves no file behind.
TEST(WriteAu, FailedWritesShowOneBoxAndFail) {
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("in.wav"), wav::pcm(1, 8012, 8, std::string(200000, '\x80'))));
    SoundClip clip;
    ASSERT_EQ(clip.readWave(dir.file("in.wav").c_str()), 1);
    for (long nth : {1L, 2L}) {
        SCOPED_TRACE(nth);
        Recorder recorder;
        fault::Scope scope;
        fault::failAt(fault::Kind::Write, nth, true);
        EXPECT_EQ(clip.writeAu(dir.file("out.au").c_str()), 0);
        EXPECT_EQ(recorder.boxCount("Cannot write file"), 1);
        EXPECT_FALSE(fileExists(dir.file("out.au")));
        EXPECT_EQ(dir.list().size(), 1u);  // no partial file beside
    }
}
