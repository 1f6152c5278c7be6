#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "image/gif_image.h"
#include "platform/fault.h"
#include "tests/common/test_support.h"
#include "tests/gif/giflib_view.h"

using namespace gif_testing;
using testing_support::dataPath;
using testing_support::Recorder;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

std::vector<std::string> gifsIn(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(dataPath(folder).c_str());
    if (dir == nullptr) return names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".gif") == 0) names.push_back(folder + "/" + name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> allFixtures() {
    std::vector<std::string> all;
    for (const char* folder : {"gif", "gif-suite", "gif/made"}) {
        std::vector<std::string> some = gifsIn(folder);
        all.insert(all.end(), some.begin(), some.end());
    }
    return all;
}

// Packs codes of given widths, least significant bit first.
struct CodePacker {
    std::vector<std::uint8_t> bytes;
    int bits = 0;
    void put(int code, int width) {
        for (int i = 0; i < width; ++i, ++bits) {
            if (bits % 8 == 0) bytes.push_back(0);
            if ((code >> i) & 1) bytes.back() |= static_cast<std::uint8_t>(1 << (bits % 8));
        }
    }
};

// A GIF file with a 4-entry global table, a screen of sw x sh, and one image
// whose LZW data is given as raw sub-block content.
struct GifBuilder {
    std::string bytes;
    GifBuilder(int sw, int sh, const char* version = "GIF89a") {
        bytes.append(version, 6);
        le16(sw);
        le16(sh);
        bytes += static_cast<char>(0x81);  // global table of 4 entries
        bytes += '\0';
        bytes += '\0';
        for (int i = 0; i < 12; ++i) bytes += static_cast<char>(10 + i);
    }
    void le16(int v) {
        bytes += static_cast<char>(v & 0xFF);
        bytes += static_cast<char>((v >> 8) & 0xFF);
    }
    GifBuilder& control(int flags, int index) {
        const char gce[8] = {0x21, static_cast<char>(0xF9), 4, static_cast<char>(flags), 0, 0,
                             static_cast<char>(index), 0};
        bytes.append(gce, 8);
        return *this;
    }
    GifBuilder& image(int left, int top, int w, int h, int flags, int minimum, const std::vector<std::uint8_t>& data,
                      bool terminate = true) {
        bytes += ',';
        le16(left);
        le16(top);
        le16(w);
        le16(h);
        bytes += static_cast<char>(flags);
        bytes += static_cast<char>(minimum);
        for (std::size_t at = 0; at < data.size(); at += 255) {
            std::size_t n = std::min<std::size_t>(255, data.size() - at);
            bytes += static_cast<char>(n);
            bytes.append(reinterpret_cast<const char*>(data.data() + at), n);
        }
        if (terminate) bytes += '\0';
        return *this;
    }
    GifBuilder& end() {
        bytes += ';';
        return *this;
    }
};

// Literal codes for the given pixels (minimum code size 2), a clear code
// between every few to keep the width at 3.
std::vector<std::uint8_t> literalData(const std::vector<int>& pixels, bool endCode = true) {
    CodePacker p;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (i % 2 == 0) p.put(4, 3);
        p.put(pixels[i], 3);
    }
    if (endCode) p.put(5, 3);
    return p.bytes;
}

struct ReadResult {
    int result = 0;
    std::vector<std::uint8_t> pixels;
};

ReadResult readBytes(const std::string& bytes, int frame, GifImage& image) {
    TempDir dir;
    writeFile(dir.file("x.gif"), bytes);
    ReadResult r;
    r.result = image.read(dir.file("x.gif").c_str(), frame);
    r.pixels = screenPixels(image);
    return r;
}

}  // namespace

// Every picture, its first and second image, read both ways.
TEST(GifReader, MatchesGiflibOnEveryFixture) {
    std::vector<std::string> files = allFixtures();
    ASSERT_GE(files.size(), 30u);
    for (const std::string& name : files) {
        GiflibPicture reference = giflibRead(dataPath(name));
        ASSERT_TRUE(reference.ok) << name << ": " << reference.error;
        int frames = std::min<int>(2, static_cast<int>(reference.frames.size()));
        for (int frame = 0; frame < frames; ++frame) {
            SCOPED_TRACE(name + " frame " + std::to_string(frame));
            Recorder recorder;
            GifImage image;
            ASSERT_EQ(image.read(dataPath(name).c_str(), frame), 1);
            Expected e = expectedRead(reference, frame);
            EXPECT_EQ(image.width, e.width);
            EXPECT_EQ(image.height, e.height);
            EXPECT_TRUE(screenPixels(image) == e.pixels);
            EXPECT_EQ(0, std::memcmp(image.palette, e.palette.data(), 768));
            EXPECT_EQ(image.hasTransparent == 1, e.hasTransparent);
            if (e.hasTransparent) {
                EXPECT_EQ(image.transparentIndex, e.transparentIndex);
            }
            EXPECT_EQ(image.restoreToBackground == 1, e.restore);
            EXPECT_EQ(image.source.base, nullptr);
            EXPECT_TRUE(recorder.boxes().empty());
        }
    }
}

// The made pictures hold what they are meant to show.
TEST(GifReader, FixturesCoverTheirCases) {
    for (int h = 1; h <= 9; ++h) {
        GiflibPicture p = giflibRead(dataPath("gif/made/interlaced-h" + std::to_string(h) + ".gif"));
        ASSERT_TRUE(p.ok);
        EXPECT_TRUE(p.frames[0].interlaced) << h;
        EXPECT_EQ(p.frames[0].height, h);
    }
    EXPECT_EQ(giflibRead(dataPath("gif/made/rose-87a-64x48.gif")).version, "GIF87a");
    EXPECT_TRUE(giflibRead(dataPath("gif/made/local-tables.gif")).frames.at(1).localTable);
    GiflibPicture small = giflibRead(dataPath("gif/made/small-frames.gif"));
    EXPECT_LT(small.frames.at(0).width, small.width);
    EXPECT_GT(small.frames.at(1).left, 0);
    GiflibPicture transparent = giflibRead(dataPath("gif/made/transparent-frames.gif"));
    EXPECT_GE(transparent.frames.at(0).transparentIndex, 0);
    EXPECT_GE(transparent.frames.at(1).transparentIndex, 0);
    GiflibPicture outside = giflibRead(dataPath("gif-suite/animated_transparent_loop_frames_out_of_bounds.gif"));
    bool beyond = false;
    for (const GiflibFrame& f : outside.frames)
        beyond = beyond || f.left + f.width > outside.width || f.top + f.height > outside.height;
    EXPECT_TRUE(beyond);
}

// Runs that repeat every 1 to 9 pixels make strings that overlap their own
// source, and interlaced rows put a string's source after it in the block;
// rows of odd widths leave no room for whole-word copies at their ends.
TEST(GifReader, RepeatingRunsDecodeAsGiflibDoes) {
    for (int period = 1; period <= 9; ++period) {
        for (int width : {5, 64, 333}) {
            SCOPED_TRACE("period " + std::to_string(period) + ", width " + std::to_string(width));
            const int height = 41;
            std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    pixels[static_cast<std::size_t>(y) * width + x] =
                        static_cast<std::uint8_t>((x + y / 7) % period * 17 + (y % 5 == 4 ? 1 : 0));
            GifImage picture;
            makePicture(picture, width, height, pixels);
            TempDir dir;
            ASSERT_EQ(picture.save(dir.file("runs.gif").c_str()), 1);
            GiflibPicture theirs = giflibRead(dir.file("runs.gif"));
            ASSERT_TRUE(theirs.ok) << theirs.error;
            GifImage ours;
            ASSERT_EQ(ours.read(dir.file("runs.gif").c_str(), 0), 1);
            EXPECT_TRUE(screenPixels(ours) == pixels);
            EXPECT_TRUE(theirs.frames[0].pixels == pixels);
        }
    }
}

TEST(GifReader, InterlacedRowsLandInPassOrder) {
    // Rows of a 1-pixel-wide image hold their file order; row y must end
    // up where the passes put it.
    for (int h = 1; h <= 9; ++h) {
        std::vector<int> order;
        for (int pass = 0; pass < 4; ++pass)
            for (int y = gifPassStart[pass]; y < h; y += gifPassStep[pass]) order.push_back(y);
        std::vector<int> pixels;
        for (int i = 0; i < h; ++i) pixels.push_back(i % 4);
        GifImage image;
        ReadResult r = readBytes(GifBuilder(1, h).image(0, 0, 1, h, 0x40, 2, literalData(pixels)).end().bytes, 0, image);
        ASSERT_EQ(r.result, 1);
        for (int i = 0; i < h; ++i) EXPECT_EQ(r.pixels[order[i]], pixels[i]) << "h " << h << " row " << i;
    }
}

TEST(GifReader, FailuresEndTheReadAsTheyShould) {
    struct Case {
        const char* what;
        std::string bytes;
        int frame;
        int result;
        int boxes;           // "Gif decoder" boxes
        const char* trace;   // a trace that must appear, or null
    };
    std::vector<std::uint8_t> two = literalData({1, 2});
    CodePacker kwk;  // clear, then the next code with nothing before it
    kwk.put(4, 3);
    kwk.put(6, 3);
    CodePacker above;
    above.put(4, 3);
    above.put(1, 3);
    above.put(7, 3);  // next free is 6
    std::string cutControl = GifBuilder(2, 1).bytes + std::string("\x21\xF9\x04\x01", 4);
    std::string longCount = GifBuilder(2, 1).bytes + std::string(",\0\0\0\0\x02\0\x01\0\0\x02\x40\x0C", 13);
    const Case cases[] = {
        {"not a GIF", "GIX89a" + GifBuilder(2, 1).bytes.substr(6), 0, 0, 0, "Bad format: "},
        {"empty file", "", 0, 0, 0, "Bad format: "},
        {"stray block byte", GifBuilder(2, 1).bytes + "X", 0, 0, 0, "Bad format: "},
        {"trailer first", GifBuilder(2, 1).end().bytes, 0, 0, 0, nullptr},
        {"frame beyond the last", GifBuilder(2, 1).image(0, 0, 2, 1, 0, 2, two).end().bytes, 1, 0, 0, nullptr},
        {"no trailer after the image skipped", GifBuilder(2, 1).image(0, 0, 2, 1, 0, 2, two).bytes, 1, 0, 0, nullptr},
        {"missing terminator", GifBuilder(2, 1).image(0, 0, 2, 1, 0, 2, two, false).bytes, 1, 0, 0, nullptr},
        {"cut graphic control", cutControl, 0, 0, 0, "Bad format: "},
        {"minimum code size 1", GifBuilder(2, 1).image(0, 0, 2, 1, 0, 1, two).end().bytes, 0, 1, 1, nullptr},
        {"minimum code size 9", GifBuilder(2, 1).image(0, 0, 2, 1, 0, 9, two).end().bytes, 0, 1, 1, nullptr},
        {"next code with no previous", GifBuilder(2, 1).image(0, 0, 2, 1, 0, 2, kwk.bytes).end().bytes, 0, 1, 1,
         nullptr},
        {"code above the next", GifBuilder(2, 1).image(0, 0, 2, 1, 0, 2, above.bytes).end().bytes, 0, 1, 1, nullptr},
        {"data ends early", GifBuilder(8, 1).image(0, 0, 8, 1, 0, 2, literalData({1, 2}, false)).end().bytes, 0, 1, 1,
         nullptr},
        {"sub-block count beyond the end", longCount, 0, 1, 1, nullptr},
        {"cut inside the descriptor", GifBuilder(2, 1).bytes + ",\0\0", 0, 1, 1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Recorder recorder;
        GifImage image;
        ReadResult r = readBytes(c.bytes, c.frame, image);
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(recorder.boxCount("Gif decoder"), c.boxes);
        EXPECT_EQ(static_cast<int>(recorder.boxes().size()), c.boxes);
        if (c.trace != nullptr) {
            EXPECT_NE(std::find(recorder.traces().begin(), recorder.traces().end(), c.trace), recorder.traces().end());
        }
    }
}

TEST(GifReader, BadBlockByteTracesANullName) {
    Recorder recorder;
    GifImage image;
    readBytes(GifBuilder(2, 1).bytes + "X", 0, image);
    ASSERT_EQ(recorder.traces().size(), 2u);
    EXPECT_EQ(recorder.traces()[0], "Bad format: ");
    EXPECT_EQ(recorder.traces()[1], "(null)");
}

TEST(GifReader, PixelsDecodedBeforeAFailureStay) {
    Recorder recorder;
    GifImage image;
    // The padding bits after the last code read as two codes of 0.
    ReadResult r = readBytes(GifBuilder(8, 1).image(0, 0, 8, 1, 0, 2, literalData({3, 2}, false)).end().bytes, 0, image);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.pixels, (std::vector<std::uint8_t>{3, 2, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(recorder.boxCount("Gif decoder"), 1);
}

TEST(GifReader, ImageOutsideTheScreenIsClipped) {
    // 4x3 image at (2,1) on a 3x2 screen: only its top-left 1x1 lands.
    std::vector<int> pixels = {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3};
    Recorder recorder;
    GifImage image;
    ReadResult r = readBytes(GifBuilder(3, 2).image(2, 1, 4, 3, 0, 2, literalData(pixels)).end().bytes, 0, image);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.pixels, (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 1}));
    // Wholly off the screen: nothing lands, nothing breaks.
    GifImage far;
    r = readBytes(GifBuilder(3, 2).image(60000, 60000, 4, 3, 0, 2, literalData(pixels)).end().bytes, 0, far);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.pixels, std::vector<std::uint8_t>(6, 0));
    EXPECT_TRUE(recorder.boxes().empty());
}

TEST(GifReader, ImageWithoutPixelsStoresNothing) {
    Recorder recorder;
    GifImage image;
    ReadResult r = readBytes(GifBuilder(2, 2).image(0, 0, 0, 5, 0, 2, literalData({1, 2, 3})).end().bytes, 0, image);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.pixels, std::vector<std::uint8_t>(4, 0));
}

TEST(GifReader, DisposalFillUsesTransparentIndexOrZero) {
    // Second frame 2x1 at (1,0) whose first pixel is transparent (3):
    // it shows the fill, the second shows itself. The first frame is not
    // decoded.
    std::vector<int> first = {1, 1, 1};
    std::vector<int> second = {3, 2};
    GifImage withIndex;
    ReadResult r = readBytes(GifBuilder(3, 1)
                                 .control(0x09, 3)
                                 .image(0, 0, 3, 1, 0, 2, literalData(first))
                                 .image(1, 0, 2, 1, 0, 2, literalData(second))
                                 .end()
                                 .bytes,
                             1, withIndex);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.pixels, (std::vector<std::uint8_t>{0, 3, 2}));
    // Disposal without a transparent colour: the area is cleared to 0, not
    // to an index nothing declared.
    GifImage withoutIndex;
    withoutIndex.transparentIndex = 3;
    r = readBytes(GifBuilder(3, 1).control(0x08, 3).image(0, 0, 3, 1, 0, 2, {}).end().bytes, 0, withoutIndex);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.pixels, (std::vector<std::uint8_t>{0, 0, 0}));
    EXPECT_EQ(withoutIndex.hasTransparent, 0);
    EXPECT_EQ(withoutIndex.restoreToBackground, 1);
}

TEST(GifReader, FirstImageStoresTransparentPixelsLaterOnesKeepWhatIsBeneath) {
    std::vector<int> pixels = {3, 1, 3};
    GifImage first;
    ReadResult r =
        readBytes(GifBuilder(3, 1).control(0x01, 3).image(0, 0, 3, 1, 0, 2, literalData(pixels)).end().bytes, 0, first);
    EXPECT_EQ(r.pixels, (std::vector<std::uint8_t>{3, 1, 3}));
    EXPECT_EQ(first.hasTransparent, 1);
    EXPECT_EQ(first.transparentIndex, 3);
    GifImage later;
    r = readBytes(GifBuilder(3, 1)
                      .image(0, 0, 3, 1, 0, 2, literalData({2, 2, 2}))
                      .control(0x01, 3)
                      .image(0, 0, 3, 1, 0, 2, literalData(pixels))
                      .end()
                      .bytes,
                  1, later);
    EXPECT_EQ(r.pixels, (std::vector<std::uint8_t>{0, 1, 0}));  // the first image was not decoded
}

TEST(GifReader, ClearCodeInTheMiddleResetsTheWidth) {
    // Codes: clear, 1, 2 (adds 6), 6 (= 1 2, adds 7; next reaches 8, so
    // 4 bits from here), clear in 4 bits, then 3 and end in 3 bits.
    CodePacker p;
    p.put(4, 3);
    p.put(1, 3);
    p.put(2, 3);
    p.put(6, 3);
    p.put(4, 4);
    p.put(3, 3);
    p.put(5, 3);
    GifImage image;
    ReadResult r = readBytes(GifBuilder(5, 1).image(0, 0, 5, 1, 0, 2, p.bytes).end().bytes, 0, image);
    EXPECT_EQ(r.pixels, (std::vector<std::uint8_t>{1, 2, 1, 2, 3}));
}

TEST(GifReader, FullTableKeepsTwelveBitCodes) {
    // Minimum size 8; 3838 literal pairs fill the table to 4095; after it the
    // codes stay 12 bits wide and define nothing.
    const int count = 4096;
    CodePacker p;
    p.put(256, 9);
    int next = 258, bits = 9;
    std::vector<std::uint8_t> expected;
    for (int i = 0; i < count; ++i) {
        int pixel = (i * 37) & 0xFF;
        p.put(pixel, bits);
        expected.push_back(static_cast<std::uint8_t>(pixel));
        if (i > 0 && next < 4096) {
            ++next;
            if (next >= (1 << bits) && bits < 12) ++bits;
        }
    }
    p.put(259, 12);  // defined first after the clear: pixels 1 and 2 of the stream
    expected.push_back(expected[1]);
    expected.push_back(expected[2]);
    p.put(257, 12);
    ASSERT_EQ(bits, 12);
    std::string bytes("GIF89a", 6);
    GifBuilder b(count + 2, 1);
    b.bytes[10] = static_cast<char>(0x87);
    b.bytes.resize(13);
    b.bytes.append(768, '\0');
    b.image(0, 0, count + 2, 1, 0, 8, p.bytes).end();
    Recorder recorder;
    GifImage image;
    ReadResult r = readBytes(b.bytes, 0, image);
    EXPECT_EQ(r.pixels, expected);
    EXPECT_TRUE(recorder.boxes().empty());
}

TEST(GifReader, HugeScreenFailsCleanly) {
    Recorder recorder;
    GifImage image;
    ReadResult r = readBytes(GifBuilder(65535, 65535).image(0, 0, 2, 1, 0, 2, literalData({1, 2})).end().bytes, 0, image);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(recorder.boxCount("Sorry, not enough memory"), 1);
}

TEST(GifReader, EmptyScreenFails) {
    Recorder recorder;
    GifImage image;
    EXPECT_EQ(readBytes(GifBuilder(0, 5).image(0, 0, 2, 1, 0, 2, literalData({1, 2})).end().bytes, 0, image).result, 0);
    EXPECT_EQ(recorder.boxCount("Sorry, not enough memory"), 1);
}

TEST(GifReader, MissingFileIsTracedOnly) {
    Recorder recorder;
    GifImage image;
    EXPECT_EQ(image.read("/nonexistent/none.gif", 0), 0);
    EXPECT_TRUE(recorder.boxes().empty());
    EXPECT_NE(std::find(recorder.traces().begin(), recorder.traces().end(), "File not found: "),
              recorder.traces().end());
}

TEST(GifReader, WorkspaceAllocationFailureLeavesImageUndecoded) {
    // Allocations: palette, file block, pixels, then the workspace.
    for (int nth = 4; nth <= 8; ++nth) {
        SCOPED_TRACE(nth);
        fault::Scope scope;
        Recorder recorder;
        GifImage image;
        TempDir dir;
        writeFile(dir.file("x.gif"), GifBuilder(2, 1).image(0, 0, 2, 1, 0, 2, literalData({1, 2})).end().bytes);
        fault::failAt(fault::Kind::Alloc, nth);
        EXPECT_EQ(image.read(dir.file("x.gif").c_str(), 0), 1);
        EXPECT_EQ(screenPixels(image), (std::vector<std::uint8_t>{0, 0}));
        EXPECT_EQ(recorder.boxes(),
                  (std::vector<std::string>{"Error: Sorry, not enough memory", "Error: Gif decode workspace allocation"}));
    }
}

TEST(GifReader, AnimatedFileReadsOnlyTheFirstImage) {
    GifImage image;
    TempDir dir;
    std::string bytes = GifBuilder(2, 1)
                            .image(0, 0, 2, 1, 0, 2, literalData({1, 2}))
                            .image(0, 0, 2, 1, 0, 2, literalData({3, 3}))
                            .end()
                            .bytes;
    ReadResult r = readBytes(bytes, 0, image);
    EXPECT_EQ(r.pixels, (std::vector<std::uint8_t>{1, 2}));
    EXPECT_EQ(image.framesRead, 1);
}
