#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "image/gif_image.h"
#include "platform/fault.h"
#include "tests/common/test_support.h"
#include "tests/gif/giflib_view.h"

using namespace gif_testing;
using testing_support::dataPath;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::Recorder;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

std::string bytesOf(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

std::string saved(GifImage& image, int* result = nullptr) {
    TempDir dir;
    int r = image.save(dir.file("out.gif").c_str());
    if (result != nullptr) *result = r;
    return readFile(dir.file("out.gif"));
}

// Each code of the data with the width it was read at, tracking widths as a
// decoder does.
struct Code {
    int value, bits;
};
std::vector<Code> codesOf(const WrittenImage& w) {
    std::vector<Code> codes;
    std::size_t bit = 0;
    int bits = w.minimumCodeSize + 1, next = (1 << w.minimumCodeSize) + 2;
    bool previous = false;
    const int clear = 1 << w.minimumCodeSize;
    while (bit + bits <= w.data.size() * 8) {
        int code = 0;
        for (int i = 0; i < bits; ++i, ++bit)
            if ((w.data[bit / 8] >> (bit % 8)) & 1) code |= 1 << i;
        codes.push_back({code, bits});
        if (code == clear) {
            bits = w.minimumCodeSize + 1;
            next = clear + 2;
            previous = false;
            continue;
        }
        if (code == clear + 1) break;
        if (previous && next < 4096) {
            ++next;
            if (next >= (1 << bits) && bits < 12) ++bits;
        }
        previous = true;
    }
    return codes;
}

std::vector<std::uint8_t> noise(int count, unsigned seed, int colours) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(count));
    for (auto& p : pixels) p = static_cast<std::uint8_t>(random() % colours);
    return pixels;
}

// What giflib reads from our file is the picture, in the order of its rows.
void expectGiflibReads(const std::string& bytes, int width, int height, const std::vector<std::uint8_t>& pixels,
                       int transparent) {
    TempDir dir;
    writeFile(dir.file("x.gif"), bytes);
    GiflibPicture p = giflibRead(dir.file("x.gif"));
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.frames.size(), 1u);
    EXPECT_EQ(p.width, width);
    EXPECT_EQ(p.height, height);
    EXPECT_TRUE(p.frames[0].interlaced);
    EXPECT_TRUE(p.frames[0].pixels == pixels);
    EXPECT_EQ(p.frames[0].transparentIndex, transparent);
}


// The image data as the classic encoder writes it: strings kept in a table of
// 5003 slots probed at h, h + 1, h + 4, h + 9, ..., codes packed least
// significant bit first into sub-blocks of 254 or 255 bytes. The writer must
// give the same bytes however it keeps its own table. Empty when a probe
// walk found no free slot.
std::string classicImageData(const std::vector<std::uint8_t>& pixels, int width, int height) {
    constexpr int slots = 5003;
    std::vector<int> codes(slots), prefixes(slots), suffixes(slots);
    std::string out(1, '\x08');
    std::vector<std::uint8_t> buffer(260);
    int bitCount = 0, codeBits = 9, codeLimit = 512, nextCode = 258;
    auto flush = [&](int n) {
        out += static_cast<char>(n);
        out.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(n));
    };
    auto put = [&](int code) {
        if (bitCount / 8 >= 254) {
            int p = bitCount / 8;
            flush(p);
            buffer[0] = buffer[static_cast<std::size_t>(p)];
            bitCount %= 8;
        }
        for (int i = 0; i < codeBits; ++i, ++bitCount) {
            std::uint8_t& byte = buffer[static_cast<std::size_t>(bitCount / 8)];
            if (bitCount % 8 == 0) byte = 0;
            if ((code >> i) & 1) byte = static_cast<std::uint8_t>(byte | (1 << (bitCount % 8)));
        }
    };
    auto reset = [&] {
        std::fill(codes.begin(), codes.end(), 0);
        codeBits = 9;
        codeLimit = 512;
        nextCode = 258;
    };
    std::vector<int> order;
    for (int pass = 0; pass < 4; ++pass)
        for (int y = gifPassStart[pass]; y < height; y += gifPassStep[pass]) order.push_back(y);
    put(256);
    int e = -1;
    for (int y : order) {
        for (int x = 0; x < width; ++x) {
            int c = pixels[static_cast<std::size_t>(y) * width + x];
            if (e < 0) {
                e = c;
                continue;
            }
            int h = ((c << 5) ^ e) % slots, step = 1;
            bool known = false;
            while (codes[h] != 0) {
                if (prefixes[h] == e && suffixes[h] == c) {
                    e = codes[h];
                    known = true;
                    break;
                }
                h = (h + step) % slots;
                step += 2;
                if (step > 2 * slots + 1) return "";
            }
            if (known) continue;
            put(e);
            int assigned = 4096;
            if (nextCode <= 4095) {
                codes[h] = nextCode;
                prefixes[h] = e;
                suffixes[h] = c;
                assigned = nextCode++;
            }
            if (assigned == codeLimit) {
                if (codeBits < 12) {
                    ++codeBits;
                    codeLimit <<= 1;
                } else {
                    put(256);
                    reset();
                }
            }
            e = c;
        }
    }
    put(e);
    put(257);
    int bytes = (bitCount + 7) / 8;
    if (bytes > 255) {
        flush(255);
        std::copy(buffer.begin() + 255, buffer.begin() + bytes, buffer.begin());
        bytes -= 255;
    }
    if (bytes > 0) flush(bytes);
    flush(0);
    return out;
}
}  // namespace

// Worked out by hand from the code sequence.
TEST(GifWriter, SmallPicturesByteForByte) {
    std::string header1x1 = std::string("GIF89a\x01\0\x01\0\x80\0\0", 13) + bytesOf({0, 7, 14, 21, 28, 35});
    {
        // Codes 256, 0, 257 in 9 bits: bits 8, 18 and 26 set.
        GifImage image;
        makePicture(image, 1, 1, {0});
        EXPECT_EQ(saved(image), header1x1 + bytesOf({0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x40, 8, 4, 0x00, 0x01, 0x04,
                                                     0x04, 0, 0x3B}));
    }
    {
        // Pixels 1 1 1 with index 1 transparent and the disposal bit: codes
        // 256, 1, 258 (= 1 1), 257.
        GifImage image;
        makePicture(image, 3, 1, {1, 1, 1});
        image.hasTransparent = 1;
        image.transparentIndex = 1;
        image.restoreToBackground = 1;
        std::string expected = std::string("GIF89a\x03\0\x01\0\x80\0\0", 13) + bytesOf({0, 7, 14, 21, 28, 35}) +
                               bytesOf({0x21, 0xF9, 4, 9, 0, 0, 1, 0}) +
                               bytesOf({0x2C, 0, 0, 0, 0, 3, 0, 1, 0, 0x40, 8, 5, 0x00, 0x03, 0x08, 0x0C, 0x08, 0,
                                        0x3B});
        EXPECT_EQ(saved(image), expected);
    }
    {
        // One column of rows 1 2 3 goes out in the rows' interlace order
        // 0, 2, 1: codes 256, 1, 3, 2, 257; largest value 3, 4 entries.
        GifImage image;
        makePicture(image, 1, 3, {1, 2, 3});
        std::string expected = std::string("GIF89a\x01\0\x03\0\x81\0\0", 13) +
                               bytesOf({0, 7, 14, 21, 28, 35, 42, 49, 56, 63, 70, 77}) +
                               bytesOf({0x2C, 0, 0, 0, 0, 1, 0, 3, 0, 0x40, 8, 6, 0x00, 0x03, 0x0C, 0x10, 0x10, 0x10,
                                        0, 0x3B});
        EXPECT_EQ(saved(image), expected);
    }
}

TEST(GifWriter, ColourTableFitsTheLargestPixel) {
    struct Case {
        int largest, flags, entries;
    };
    const Case cases[] = {{0, 0x80, 2}, {1, 0x80, 2}, {2, 0x81, 4}, {5, 0x82, 8}, {127, 0x86, 128},
                          {128, 0x87, 256}, {255, 0x87, 256}};
    for (const Case& c : cases) {
        GifImage image;
        makePicture(image, 3, 2, {0, 0, 0, 0, static_cast<std::uint8_t>(c.largest), 0});
        std::string bytes = saved(image);
        ASSERT_GT(bytes.size(), 13u);
        EXPECT_EQ(static_cast<std::uint8_t>(bytes[10]), c.flags) << c.largest;
        EXPECT_EQ(bytes.compare(13, 3 * c.entries, reinterpret_cast<const char*>(image.palette), 3 * c.entries), 0);
        EXPECT_EQ(bytes[13 + 3 * c.entries], 0x2C) << c.largest;
    }
}

TEST(GifWriter, RefusesAColourPicture) {
    Recorder recorder;
    TempDir dir;
    GifImage image;
    image.setFormat(4, 4, RasterImage::colourKind);
    ASSERT_EQ(image.allocatePixels(), 1);
    EXPECT_EQ(image.save(dir.file("x.gif").c_str()), 0);
    EXPECT_FALSE(fileExists(dir.file("x.gif")));
    EXPECT_EQ(recorder.boxes(), std::vector<std::string>{"Error: GIF requires 256 color format"});
}

TEST(GifWriter, FileThatCannotBeCreatedIsTracedOnly) {
    Recorder recorder;
    GifImage image;
    makePicture(image, 2, 2, {0, 1, 1, 0});
    EXPECT_EQ(image.save("/nonexistent/dir/x.gif"), 0);
    EXPECT_TRUE(recorder.boxes().empty());
    EXPECT_EQ(image.outputFile, nullptr);
    ASSERT_GE(recorder.traces().size(), 1u);
    EXPECT_EQ(recorder.traces()[0], "Cannot create file: ");
}

TEST(GifWriter, ColumnsAndInterlacedHeightsRoundTrip) {
    for (int width : {1, 2, 7}) {
        for (int height = 1; height <= 9; ++height) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
            std::vector<std::uint8_t> pixels = noise(width * height, static_cast<unsigned>(width * 31 + height), 7);
            GifImage image;
            makePicture(image, width, height, pixels);
            expectGiflibReads(saved(image), width, height, pixels, -1);
        }
    }
}

// Noise fills the table again and again: 12-bit clear codes followed by 9-bit
// codes, and sub-blocks of 254 and 255 bytes.
TEST(GifWriter, LargeVariedPicturesRoundTrip) {
    struct Case {
        int width, height, colours;
        unsigned seed;
    };
    const Case cases[] = {{640, 480, 256, 1}, {333, 257, 200, 2}, {4000, 3, 16, 3}, {3, 4000, 129, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        std::vector<std::uint8_t> pixels = noise(c.width * c.height, c.seed, c.colours);
        GifImage image;
        makePicture(image, c.width, c.height, pixels);
        image.hasTransparent = 1;
        image.transparentIndex = pixels[0];
        int result = 0;
        std::string bytes = saved(image, &result);
        EXPECT_EQ(result, 1);
        expectGiflibReads(bytes, c.width, c.height, pixels, pixels[0]);

        WrittenImage w = parseWritten(bytes);
        ASSERT_TRUE(w.ok);
        EXPECT_EQ(w.minimumCodeSize, 8);
        bool saw254 = false, saw255 = false;
        for (std::size_t i = 0; i + 2 < w.blockSizes.size(); ++i) {
            EXPECT_TRUE(w.blockSizes[i] == 254 || w.blockSizes[i] == 255) << i;
            saw254 = saw254 || w.blockSizes[i] == 254;
            saw255 = saw255 || w.blockSizes[i] == 255;
        }
        EXPECT_TRUE(saw254 && saw255);
        std::vector<Code> codes = codesOf(w);
        ASSERT_GE(codes.size(), 2u);
        EXPECT_EQ(codes.front().value, 256);
        EXPECT_EQ(codes.front().bits, 9);
        EXPECT_EQ(codes.back().value, 257);
        int twelveBitClears = 0;
        for (std::size_t i = 0; i + 1 < codes.size(); ++i) {
            if (codes[i].value == 256 && codes[i].bits == 12) {
                ++twelveBitClears;
                EXPECT_EQ(codes[i + 1].bits, 9);
            }
            EXPECT_TRUE(codes[i].value != 256 || codes[i].bits == 12 || i == 0) << i;
        }
        EXPECT_GE(twelveBitClears, 1);

        // Our own reader gives the picture back too.
        TempDir dir;
        writeFile(dir.file("x.gif"), bytes);
        GifImage back;
        ASSERT_EQ(back.read(dir.file("x.gif").c_str(), 0), 1);
        EXPECT_TRUE(screenPixels(back) == pixels);
        EXPECT_EQ(back.hasTransparent, 1);
        EXPECT_EQ(back.transparentIndex, pixels[0]);
    }
}

// The writer's string table is its own; the bytes it writes must be those of
// the classic 5003-slot encoder, on real pictures and on ones that keep the
// table busy (many colours, long runs, full tables over and over).
TEST(GifWriter, DataIsTheClassicEncodersByteForByte) {
    struct Case {
        std::string label;
        int width, height;
        std::vector<std::uint8_t> pixels;
    };
    std::vector<Case> cases;
    for (const char* name : {"gif/photo-640x480.gif", "gif/interlaced-rose.gif", "gif/made/plasma-300x200.gif",
                             "gif/two-colour-37x23.gif", "gif/tiny-5x3.gif", "gif/made/local-tables.gif"}) {
        GifImage image;
        ASSERT_EQ(image.read(dataPath(name).c_str(), 0), 1) << name;
        cases.push_back({name, image.width, image.height, screenPixels(image)});
    }
    cases.push_back({"noise 256", 900, 700, noise(900 * 700, 11, 256)});
    cases.push_back({"noise 3", 1200, 500, noise(1200 * 500, 12, 3)});
    std::vector<std::uint8_t> runs(1000 * 600);
    for (std::size_t i = 0; i < runs.size(); ++i) runs[i] = static_cast<std::uint8_t>((i / 37 + i / 1013) % 251);
    cases.push_back({"runs", 1000, 600, runs});
    std::vector<std::uint8_t> gradient(777 * 555);
    for (int y = 0; y < 555; ++y)
        for (int x = 0; x < 777; ++x) gradient[static_cast<std::size_t>(y) * 777 + x] = static_cast<std::uint8_t>((x * x + y * 3) >> 7);
    cases.push_back({"gradient", 777, 555, gradient});
    cases.push_back({"one pixel", 1, 1, {7}});
    cases.push_back({"column", 1, 300, noise(300, 13, 256)});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::string expected = classicImageData(c.pixels, c.width, c.height);
        ASSERT_FALSE(expected.empty());
        GifImage image;
        makePicture(image, c.width, c.height, c.pixels);
        std::string bytes = saved(image);
        // Header, colour table, image descriptor, then the data and the trailer.
        ASSERT_GT(bytes.size(), expected.size() + 1);
        std::size_t start = bytes.size() - expected.size() - 1;
        EXPECT_EQ(static_cast<unsigned char>(bytes[start - 10]), 0x2C);
        EXPECT_TRUE(bytes.compare(start, expected.size(), expected) == 0);
        EXPECT_EQ(bytes.back(), ';');
    }
}

// Up to 256 bytes can be left at the end; more than 255 go out as two
// sub-blocks of 255 and 1, never as one block with a count of 0.
TEST(GifWriter, LongLeftoversSplitInTwoSubBlocks) {
    int found = 0;
    for (unsigned seed = 1; seed < 20000 && found < 2; ++seed) {
        int width = 40 + static_cast<int>(seed % 23), height = 30 + static_cast<int>(seed % 7);
        std::vector<std::uint8_t> pixels = noise(width * height, seed, 256);
        GifImage image;
        makePicture(image, width, height, pixels);
        std::string bytes = saved(image);
        WrittenImage w = parseWritten(bytes);
        ASSERT_TRUE(w.ok);
        std::size_t n = w.blockSizes.size();
        ASSERT_GE(n, 1u);
        for (std::size_t i = 0; i + 2 < n; ++i) ASSERT_TRUE(w.blockSizes[i] == 254 || w.blockSizes[i] == 255);
        if (n >= 2 && w.blockSizes[n - 2] == 255 && w.blockSizes[n - 1] == 1) {
            // Only a split leftover ends in 255 then 1: a full block is
            // flushed only once another code follows it.
            ++found;
            expectGiflibReads(bytes, width, height, pixels, -1);
        }
    }
    EXPECT_EQ(found, 2);
}

TEST(GifWriter, PhotographicPictureRoundTrips) {
    GifImage image;
    ASSERT_EQ(image.read(dataPath("gif/made/plasma-300x200.gif").c_str(), 0), 1);
    std::vector<std::uint8_t> pixels = screenPixels(image);
    std::string bytes = saved(image);
    expectGiflibReads(bytes, 300, 200, pixels, -1);
    TempDir dir;
    writeFile(dir.file("x.gif"), bytes);
    GiflibPicture p = giflibRead(dir.file("x.gif"));
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(0, std::memcmp(p.frames[0].colours.data(), image.palette, 768));
}

TEST(GifWriter, FailedWritesShowOneBoxAndLeaveTheOldFile) {
    for (bool persist : {false, true}) {
        fault::Scope scope;
        Recorder recorder;
        TempDir dir;
        std::string old = "the old contents";
        writeFile(dir.file("x.gif"), old);
        GifImage image;
        std::vector<std::uint8_t> pixels = noise(300 * 300, 9, 256);
        makePicture(image, 300, 300, pixels);
        fault::failAt(fault::Kind::Write, 1, persist);
        EXPECT_EQ(image.save(dir.file("x.gif").c_str()), 0);
        EXPECT_EQ(image.outputFile, nullptr);
        EXPECT_EQ(recorder.boxes(), std::vector<std::string>{"Error: Cannot write file"});
        EXPECT_EQ(readFile(dir.file("x.gif")), old);
        EXPECT_EQ(dir.list(), std::vector<std::string>{"x.gif"});
    }
}
