// VornNative_saveJPEG end to end: every file it writes is read back with
// libjpeg's own decompressor and walked marker by marker.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <unistd.h>

#include <jpeglib.h>

#include "native/VornNative.h"
#include "tests/common/test_support.h"
#include "tests/jpeg/jpeg_reader.h"

using jpeg_reader::Decoded;
using jpeg_reader::Rgb;
using jpeg_reader::Segment;
using testing_support::Recorder;
using testing_support::TempDir;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

const char writeErrorLine[] = "Error: Output file write error --- out of disk space?\n";

struct Saved {
    int result = -1;
    std::string printed;  // standard output during the call
};

// Calls the export the way the VM does; lengthWord < 0 keeps the array's own.
Saved save(const std::string& path, const std::vector<std::int32_t>& pixels, int width, int height,
           long lengthWord = -1) {
    vm::LocalString name(path.data(), path.size());
    vm::IntArray array(static_cast<std::int32_t>(pixels.size()));
    std::copy(pixels.begin(), pixels.end(), array.elements());
    if (lengthWord >= 0) array.setLengthWord(static_cast<std::int32_t>(lengthWord));
    Saved saved;
    testing::internal::CaptureStdout();
    saved.result = VornNative_saveJPEG(0, name.handle(), array.handle(), width, height);
    saved.printed = testing::internal::GetCapturedStdout();
    return saved;
}

std::vector<std::int32_t> filled(int width, int height, std::int32_t value) {
    return std::vector<std::int32_t>(static_cast<std::size_t>(width) * height, value);
}

// Smooth colour noise: large enough to fill many output buffers, with
// structure so that the picture survives compression recognisably.
std::vector<std::int32_t> photoLike(int width, int height, unsigned seed = 7) {
    std::mt19937 random(seed);
    std::vector<std::int32_t> pixels(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int r = (x * 255 / std::max(1, width - 1) + static_cast<int>(random() % 40)) & 0xFF;
            int g = (y * 255 / std::max(1, height - 1) + static_cast<int>(random() % 40)) & 0xFF;
            int b = ((x + y) * 3 + static_cast<int>(random() % 40)) & 0xFF;
            pixels[static_cast<std::size_t>(y) * width + x] = r << 16 | g << 8 | b;
        }
    return pixels;
}

int distance(Rgb got, Rgb want) {
    return std::max({std::abs(got.r - want.r), std::abs(got.g - want.g), std::abs(got.b - want.b)});
}

std::string describe(Rgb c) {
    char text[48];
    std::snprintf(text, sizeof text, "(%d,%d,%d)", c.r, c.g, c.b);
    return text;
}

// Quality 90 moves a flat colour by a few levels at most.
constexpr int flatTolerance = 8;

}  // namespace

TEST(SaveJpeg, SizesAreExactAndFlatColoursSurvive) {
    TempDir dir;
    const Rgb colour = {200, 100, 50};
    const std::int32_t value = colour.r << 16 | colour.g << 8 | colour.b;
    for (int width : {1, 2, 3, 5, 8, 17}) {
        for (int height : {1, 2, 3, 9}) {
            std::string path = dir.file("flat.jpg");
            Saved saved = save(path, filled(width, height, value), width, height);
            ASSERT_EQ(saved.result, 1) << width << "x" << height;
            EXPECT_EQ(saved.printed, "");
            Decoded decoded = jpeg_reader::decode(readFile(path));
            ASSERT_TRUE(decoded.ok) << decoded.error;
            EXPECT_EQ(decoded.width, width);
            EXPECT_EQ(decoded.height, height);
            EXPECT_EQ(decoded.components, 3);
            // Every pixel, the last column included: the row filler never shows.
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    ASSERT_LE(distance(decoded.at(x, y), colour), flatTolerance)
                        << width << "x" << height << " at " << x << "," << y << " " << describe(decoded.at(x, y));
        }
    }
}

TEST(SaveJpeg, PrimaryColoursAreNotSwapped) {
    TempDir dir;
    const struct {
        std::int32_t value;
        Rgb colour;
    } cases[] = {
        {0xFF0000, {255, 0, 0}},     {0x0000FF, {0, 0, 255}},     {0x00FF00, {0, 255, 0}},
        {0xFFFF00, {255, 255, 0}},   {0x000000, {0, 0, 0}},       {0xFFFFFF, {255, 255, 255}},
    };
    for (const auto& c : cases) {
        std::string path = dir.file("primary.jpg");
        ASSERT_EQ(save(path, filled(16, 16, c.value), 16, 16).result, 1);
        Decoded decoded = jpeg_reader::decode(readFile(path));
        ASSERT_TRUE(decoded.ok) << decoded.error;
        EXPECT_LE(distance(decoded.at(7, 7), c.colour), flatTolerance)
            << std::hex << c.value << " came back as " << describe(decoded.at(7, 7));
    }
}

// Four flat quadrants of a picture that is wider than high: a flipped,
// mirrored or transposed picture puts a wrong colour in some corner.
TEST(SaveJpeg, TheFirstElementIsTheTopLeftPixel) {
    TempDir dir;
    const int width = 64, height = 32;
    const std::int32_t quadrant[2][2] = {{0x0000FF, 0x00FF00}, {0xFFFFFF, 0xFF0000}};  // [bottom][right]
    std::vector<std::int32_t> pixels(width * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) pixels[y * width + x] = quadrant[y >= height / 2][x >= width / 2];
    std::string path = dir.file("quadrants.jpg");
    ASSERT_EQ(save(path, pixels, width, height).result, 1);
    Decoded decoded = jpeg_reader::decode(readFile(path));
    ASSERT_TRUE(decoded.ok) << decoded.error;
    ASSERT_EQ(decoded.width, width);
    ASSERT_EQ(decoded.height, height);
    const struct {
        int x, y;
        Rgb colour;
    } probes[] = {{0, 0, {0, 0, 255}},          {8, 8, {0, 0, 255}},          {width - 1, 0, {0, 255, 0}},
                  {48, 8, {0, 255, 0}},         {0, height - 1, {255, 255, 255}}, {8, 24, {255, 255, 255}},
                  {width - 1, height - 1, {255, 0, 0}}, {48, 24, {255, 0, 0}}};
    for (const auto& p : probes)
        EXPECT_LE(distance(decoded.at(p.x, p.y), p.colour), flatTolerance)
            << "at " << p.x << "," << p.y << ": " << describe(decoded.at(p.x, p.y));
}

TEST(SaveJpeg, BitsAboveTheColourAreIgnored) {
    TempDir dir;
    std::vector<std::int32_t> plain = photoLike(37, 23);
    std::vector<std::int32_t> noisy = plain;
    std::mt19937 random(99);
    for (std::int32_t& v : noisy) v = static_cast<std::int32_t>((random() & 0xFF000000u) | static_cast<std::uint32_t>(v));
    noisy[0] |= static_cast<std::int32_t>(0xFF000000u);  // negative values too
    ASSERT_NE(plain, noisy);
    ASSERT_EQ(save(dir.file("plain.jpg"), plain, 37, 23).result, 1);
    ASSERT_EQ(save(dir.file("noisy.jpg"), noisy, 37, 23).result, 1);
    std::string a = readFile(dir.file("plain.jpg"));
    EXPECT_FALSE(a.empty());
    EXPECT_EQ(a, readFile(dir.file("noisy.jpg")));
}

TEST(SaveJpeg, APictureKeepsItsDetail) {
    jpeg_reader::Picture rose;
    ASSERT_TRUE(jpeg_reader::readPpm(readFile(testing_support::dataPath("ppm/rose-70x46.ppm")), rose));
    TempDir dir;
    ASSERT_EQ(save(dir.file("rose.jpg"), rose.pixels, rose.width, rose.height).result, 1);
    Decoded decoded = jpeg_reader::decode(readFile(dir.file("rose.jpg")));
    ASSERT_TRUE(decoded.ok) << decoded.error;
    ASSERT_EQ(decoded.width, 70);
    ASSERT_EQ(decoded.height, 46);
    EXPECT_GT(jpeg_reader::psnr(decoded, rose.pixels), 28.0);
}

namespace {

// The JPEG standard's example tables (Annex K), in natural order.
const int standardLuminance[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,  14, 13, 16, 24, 40,  57,
    69, 56, 14, 17, 22,  29,  51,  87,  80, 62, 18, 22, 37,  56,  68,  109, 103, 77, 24, 35, 55, 64,
    81, 104, 113, 92, 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const int standardChrominance[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
// Natural index of each coefficient in the order a DQT segment lists them.
const int zigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
                        41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
                        30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Quality 90 scales the example tables by 20%.
int scaledForQuality90(int value) { return std::clamp((value * 20 + 50) / 100, 1, 255); }

}  // namespace

TEST(SaveJpeg, TheFileHasTheBaselineJfifLayout) {
    TempDir dir;
    const int width = 45, height = 29;
    ASSERT_EQ(save(dir.file("layout.jpg"), photoLike(width, height), width, height).result, 1);
    std::string bytes = readFile(dir.file("layout.jpg"));
    std::vector<Segment> parts;
    std::string problem;
    ASSERT_TRUE(jpeg_reader::segments(bytes, parts, problem)) << problem;
    auto u8 = [](const std::string& body, std::size_t i) { return static_cast<int>(static_cast<std::uint8_t>(body[i])); };
    auto u16 = [&](const std::string& body, std::size_t i) { return u8(body, i) << 8 | u8(body, i + 1); };

    ASSERT_GE(parts.size(), 4u);
    EXPECT_EQ(parts.front().marker, 0xD8);
    EXPECT_EQ(parts.back().marker, 0xD9);

    // JFIF APP0 right after SOI: version 1.x, density unit 0, densities 1, no thumbnail.
    ASSERT_EQ(parts[1].marker, 0xE0);
    const std::string& app0 = parts[1].body;
    ASSERT_EQ(app0.size(), 14u);
    EXPECT_EQ(app0.substr(0, 5), std::string("JFIF\0", 5));
    EXPECT_EQ(u8(app0, 5), 1);
    EXPECT_EQ(u8(app0, 7), 0);
    EXPECT_EQ(u16(app0, 8), 1);
    EXPECT_EQ(u16(app0, 10), 1);
    EXPECT_EQ(u8(app0, 12), 0);
    EXPECT_EQ(u8(app0, 13), 0);

    int frames = 0, scans = 0, huffmanTables = 0;
    std::vector<int> quantTables;
    for (const Segment& s : parts) {
        EXPECT_NE(s.marker, 0xEE) << "Adobe marker";
        EXPECT_NE(s.marker, 0xDD) << "restart interval";
        EXPECT_FALSE(s.marker >= 0xD0 && s.marker <= 0xD7) << "restart marker";
        if (s.marker >= 0xC1 && s.marker <= 0xCF && s.marker != 0xC4 && s.marker != 0xC8 && s.marker != 0xCC)
            ADD_FAILURE() << "a frame other than baseline: " << std::hex << s.marker;
        if (s.marker == 0xC0) {
            ++frames;
            ASSERT_EQ(s.body.size(), 15u);
            EXPECT_EQ(u8(s.body, 0), 8);
            EXPECT_EQ(u16(s.body, 1), height);
            EXPECT_EQ(u16(s.body, 3), width);
            ASSERT_EQ(u8(s.body, 5), 3);
            const int expected[3][3] = {{1, 0x22, 0}, {2, 0x11, 1}, {3, 0x11, 1}};
            for (int c = 0; c < 3; ++c)
                for (int i = 0; i < 3; ++i) EXPECT_EQ(u8(s.body, 6 + 3 * c + i), expected[c][i]) << c << "/" << i;
        }
        if (s.marker == 0xDB) {
            for (std::size_t at = 0; at < s.body.size(); at += 65) {
                ASSERT_LE(at + 65, s.body.size());
                int precision = u8(s.body, at) >> 4, table = u8(s.body, at) & 15;
                EXPECT_EQ(precision, 0);
                quantTables.push_back(table);
                ASSERT_TRUE(table == 0 || table == 1);
                const int* standard = table == 0 ? standardLuminance : standardChrominance;
                for (int k = 0; k < 64; ++k)
                    EXPECT_EQ(u8(s.body, at + 1 + k), scaledForQuality90(standard[zigzag[k]])) << table << "/" << k;
            }
        }
        if (s.marker == 0xC4) {
            // The standard tables: the count of codes of each length, by class and table.
            const std::uint8_t standardBits[2][2][16] = {
                {{0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0}, {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0}},
                {{0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d},
                 {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77}}};
            for (std::size_t at = 0; at < s.body.size();) {
                int tableClass = u8(s.body, at) >> 4, table = u8(s.body, at) & 15;
                ASSERT_TRUE(tableClass <= 1 && table <= 1);
                int symbols = 0;
                for (int i = 0; i < 16; ++i) {
                    EXPECT_EQ(u8(s.body, at + 1 + i), standardBits[tableClass][table][i]) << tableClass << table << i;
                    symbols += u8(s.body, at + 1 + i);
                }
                EXPECT_EQ(symbols, tableClass == 0 ? 12 : 162);
                at += 17 + symbols;
                ++huffmanTables;
            }
        }
        if (s.marker == 0xDA) {
            ++scans;
            ASSERT_EQ(s.body.size(), 10u);
            EXPECT_EQ(u8(s.body, 0), 3);  // one interleaved scan of all components
            const int expected[3][2] = {{1, 0x00}, {2, 0x11}, {3, 0x11}};
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(u8(s.body, 1 + 2 * c), expected[c][0]);
                EXPECT_EQ(u8(s.body, 2 + 2 * c), expected[c][1]);
            }
            EXPECT_EQ(u8(s.body, 7), 0);
            EXPECT_EQ(u8(s.body, 8), 63);
            EXPECT_EQ(u8(s.body, 9), 0);
        }
    }
    EXPECT_EQ(frames, 1);
    EXPECT_EQ(scans, 1);
    EXPECT_EQ(huffmanTables, 4);
    std::sort(quantTables.begin(), quantTables.end());
    EXPECT_EQ(quantTables, (std::vector<int>{0, 1}));
}

// The same quantization values as the library itself derives for quality 90.
TEST(SaveJpeg, QuantizationIsTheLibrarysQuality90) {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    info.in_color_space = JCS_RGB;
    info.input_components = 3;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    for (int k = 0; k < 64; ++k) {
        EXPECT_EQ(info.quant_tbl_ptrs[0]->quantval[k], scaledForQuality90(standardLuminance[k])) << k;
        EXPECT_EQ(info.quant_tbl_ptrs[1]->quantval[k], scaledForQuality90(standardChrominance[k])) << k;
    }
    jpeg_destroy_compress(&info);
}

TEST(SaveJpeg, TheLargestPicturesTheModelHolds) {
    TempDir dir;
    const struct {
        int width, height;
    } cases[] = {{21844, 1}, {1, 65500}};
    for (const auto& c : cases) {
        std::string path = dir.file("large.jpg");
        Saved saved = save(path, filled(c.width, c.height, 0x336699), c.width, c.height);
        ASSERT_EQ(saved.result, 1) << c.width << "x" << c.height;
        EXPECT_EQ(saved.printed, "");
        Decoded decoded = jpeg_reader::decode(readFile(path));
        ASSERT_TRUE(decoded.ok) << decoded.error;
        EXPECT_EQ(decoded.width, c.width);
        EXPECT_EQ(decoded.height, c.height);
    }
}

TEST(SaveJpeg, AnExistingFileIsReplaced) {
    TempDir dir;
    std::string path = dir.file("old.jpg");
    ASSERT_TRUE(writeFile(path, std::string(100000, 'x')));
    ASSERT_EQ(save(path, filled(4, 4, 0x123456), 4, 4).result, 1);
    Decoded decoded = jpeg_reader::decode(readFile(path));
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.width, 4);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"old.jpg"});
}

// Arguments the method refuses before it touches any file or library.
TEST(SaveJpeg, BadArgumentsWriteNothing) {
    const struct {
        const char* what;
        int width, height;
        long elements;  // in the block
        long lengthWord;  // < 0: the block's own
        const char* box;  // expected box, or null
    } cases[] = {
        {"short array", 5, 3, 15, 14, nullptr},
        {"negative width", -5, 3, 15, -1, nullptr},
        {"negative height", 5, -3, 15, -1, nullptr},
        {"both negative", -5, -3, 15, -1, nullptr},
        {"product beyond 32 bits", 65536, 65536, 16, INT_MAX, nullptr},
        {"product beyond the length word", 46341, 46341, 16, INT_MAX, nullptr},
        {"rows beyond the 16-bit stride", 21845, 1, 21845, -1, "Sorry, not enough memory"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        Recorder recorder;
        std::string path = dir.file("out.jpg");
        Saved saved = save(path, filled(static_cast<int>(c.elements), 1, 0xFF0000), c.width, c.height, c.lengthWord);
        EXPECT_EQ(saved.result, 0) << c.what;
        EXPECT_EQ(saved.printed, "") << c.what;
        EXPECT_TRUE(dir.list().empty()) << c.what;
        if (c.box != nullptr) {
            EXPECT_EQ(recorder.boxes(), std::vector<std::string>{std::string("Error: ") + c.box}) << c.what;
        } else {
            EXPECT_TRUE(recorder.boxes().empty()) << c.what;
        }
    }
}

TEST(SaveJpeg, ArraysThatCannotBeReadAreRefused) {
    TempDir dir;
    Recorder recorder;
    vm::LocalString name(dir.file("out.jpg").c_str());
    vm::IntArray array(4);
    array.setLengthWord(-4);
    EXPECT_EQ(VornNative_saveJPEG(0, name.handle(), array.handle(), 2, 2), 0);
    EXPECT_EQ(VornNative_saveJPEG(0, name.handle(), array.handle(), 0, 0), 0);
    EXPECT_EQ(VornNative_saveJPEG(0, name.handle(), 0, 2, 2), 0);  // no array at all
    EXPECT_TRUE(dir.list().empty());
    EXPECT_TRUE(recorder.boxes().empty());
}

TEST(SaveJpeg, NamesThatCannotBeConvertedTouchNoFile) {
    TempDir dir;
    Recorder recorder;
    // The first 255 bytes of the long name name a file that must survive.
    std::string prefix = dir.path() + "/";
    std::string victim = prefix + std::string(255 - prefix.size(), 'a');
    ASSERT_EQ(victim.size(), 255u);
    ASSERT_TRUE(writeFile(victim, "keep me"));
    std::string longName = victim + std::string(45, 'a');
    EXPECT_EQ(save(longName, filled(2, 2, 0xFF), 2, 2).result, 0);
    EXPECT_EQ(readFile(victim), "keep me");

    std::string withZero = prefix + "b" + std::string(1, '\0') + ".jpg";
    EXPECT_EQ(save(withZero, filled(2, 2, 0xFF), 2, 2).result, 0);
    EXPECT_FALSE(fileExists(prefix + "b"));

    vm::IntArray array(4);
    EXPECT_EQ(VornNative_saveJPEG(0, 0, array.handle(), 2, 2), 0);
    EXPECT_TRUE(recorder.boxes().empty());
}

TEST(SaveJpeg, AMissingDirectoryFailsQuietly) {
    TempDir dir;
    Recorder recorder;
    std::string path = dir.file("no-such-dir/out.jpg");
    Saved saved = save(path, filled(3, 3, 0xFF00), 3, 3);
    EXPECT_EQ(saved.result, 0);
    EXPECT_EQ(saved.printed, "");
    EXPECT_TRUE(recorder.boxes().empty());
    EXPECT_TRUE(dir.list().empty());
    const auto& traces = recorder.traces();
    ASSERT_EQ(traces.size(), 2u);
    EXPECT_EQ(traces[0], "Cannot create file: ");
    EXPECT_EQ(traces[1], path);
}

// Errors after which the library cannot go on: its message is printed, the
// file is dropped, the old one kept, and the process carries on.
TEST(SaveJpeg, LibraryErrorsAbandonTheFile) {
    const struct {
        int width, height;
        const char* line;
    } cases[] = {
        {0, 5, "Error: Empty JPEG image (DNL not supported)\n"},
        {5, 0, "Error: Empty JPEG image (DNL not supported)\n"},
        {0, 0, "Error: Empty JPEG image (DNL not supported)\n"},
        {1, 65501, "Error: Maximum supported image dimension is 65500 pixels\n"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        Recorder recorder;
        std::string path = dir.file("out.jpg");
        ASSERT_TRUE(writeFile(path, "old picture"));
        Saved saved = save(path, filled(c.width, c.height, 0x808080), c.width, c.height);
        EXPECT_EQ(saved.result, 0) << c.width << "x" << c.height;
        EXPECT_EQ(saved.printed, c.line);
        EXPECT_TRUE(recorder.boxes().empty()) << c.width << "x" << c.height;
        EXPECT_EQ(readFile(path), "old picture");
        EXPECT_EQ(dir.list(), std::vector<std::string>{"out.jpg"});

        Saved next = save(path, filled(2, 2, 0x808080), 2, 2);
        EXPECT_EQ(next.result, 1);
        EXPECT_TRUE(jpeg_reader::decode(readFile(path)).ok);
    }
}

TEST(SaveJpeg, APixelBlockThatCannotBeHadWritesNothing) {
    TempDir dir;
    Recorder recorder;
    std::string path = dir.file("out.jpg");
    ASSERT_TRUE(writeFile(path, "old picture"));
    fault::Scope scope;
    fault::failAt(fault::Kind::Alloc, 1);
    Saved saved = save(path, filled(50, 40, 0x808080), 50, 40);
    EXPECT_EQ(fault::injected(fault::Kind::Alloc), 1);
    EXPECT_EQ(saved.result, 0);
    EXPECT_EQ(saved.printed, "");
    EXPECT_EQ(recorder.boxes(), std::vector<std::string>{"Error: Sorry, not enough memory"});
    EXPECT_EQ(fault::count(fault::Kind::Open), 0);
    EXPECT_EQ(readFile(path), "old picture");
}

namespace {

// A picture of several output buffers, and how many platform writes it takes.
struct ManyBuffers {
    std::vector<std::int32_t> pixels = photoLike(320, 240);
    int width = 320, height = 240;
    std::string bytes;
    long writes = 0;

    ManyBuffers() {
        TempDir dir;
        fault::Scope scope;
        EXPECT_EQ(save(dir.file("whole.jpg"), pixels, width, height).result, 1);
        writes = fault::count(fault::Kind::Write);
        bytes = readFile(dir.file("whole.jpg"));
    }
};

}  // namespace

// Every write in turn fails: one box, one line, result 0, the old file kept
// and nothing left beside it.
TEST(SaveJpeg, AFailedWriteEndsTheCompression) {
    ManyBuffers picture;
    ASSERT_GT(picture.bytes.size(), 3 * 4096u);
    ASSERT_GE(picture.writes, 4);
    for (long nth = 1; nth <= picture.writes + 1; ++nth) {
        for (bool persist : {false, true}) {
            if (nth > picture.writes && !persist) continue;
            TempDir dir;
            Recorder recorder;
            std::string path = dir.file("out.jpg");
            ASSERT_TRUE(writeFile(path, "old picture"));
            fault::Scope scope;
            fault::failAt(fault::Kind::Write, nth, persist);
            Saved saved = save(path, picture.pixels, picture.width, picture.height);
            long attempted = fault::count(fault::Kind::Write);
            if (nth > picture.writes) {  // past the last write: nothing fails
                EXPECT_EQ(saved.result, 1);
                EXPECT_EQ(readFile(path), picture.bytes);
                continue;
            }
            EXPECT_EQ(saved.result, 0) << "write " << nth;
            EXPECT_EQ(recorder.boxes(), std::vector<std::string>{"Error: Cannot write file"}) << "write " << nth;
            EXPECT_EQ(saved.printed, writeErrorLine) << "write " << nth;
            EXPECT_EQ(attempted, nth) << "no write after the failed one";
            EXPECT_EQ(readFile(path), "old picture");
            EXPECT_EQ(dir.list(), std::vector<std::string>{"out.jpg"});
        }
    }
}

namespace {

struct LimitedSave {
    std::string path;
    const ManyBuffers* picture;
    int pipeOut;
};

// Exit status: the result in bit 0, the number of "Cannot write file" boxes
// (up to 3) in bits 1-2, any other box in bit 3.
int saveUnderLimit(void* context) {
    auto* job = static_cast<LimitedSave*>(context);
    if (dup2(job->pipeOut, 1) < 0) return 64;
    Recorder recorder;
    vm::LocalString name(job->path.c_str());
    vm::IntArray array(static_cast<std::int32_t>(job->picture->pixels.size()));
    std::copy(job->picture->pixels.begin(), job->picture->pixels.end(), array.elements());
    int result = VornNative_saveJPEG(0, name.handle(), array.handle(), job->picture->width, job->picture->height);
    int writeBoxes = recorder.boxCount("Cannot write file");
    int others = static_cast<int>(recorder.boxes().size()) - writeBoxes;
    return (result & 1) | std::min(writeBoxes, 3) << 1 | (others > 0) << 3;
}

}  // namespace

// A disk that fills up: the file size limit cuts a write short.
TEST(SaveJpeg, AFileSizeLimitEndsTheCompression) {
    ManyBuffers picture;
    const long size = static_cast<long>(picture.bytes.size());
    const struct {
        long limit;
        int status;
        bool line;
    } cases[] = {
        {0, 0 | 1 << 1, true},             // the first buffer
        {4096 * 2 + 100, 0 | 1 << 1, true},  // inside a later buffer
        {size - 1, 0 | 1 << 1, true},      // the last bytes, held until the file is closed
        {size, 1, false},                  // exactly enough
    };
    for (const auto& c : cases) {
        TempDir dir;
        std::string path = dir.file("out.jpg");
        ASSERT_TRUE(writeFile(path, "old picture"));
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        LimitedSave job{path, &picture, fds[1]};
        int status = testing_support::runInChild(saveUnderLimit, &job, false, c.limit);
        close(fds[1]);
        std::string printed;
        char buffer[512];
        for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) printed.append(buffer, static_cast<std::size_t>(n));
        close(fds[0]);
        EXPECT_EQ(status, c.status) << "limit " << c.limit;
        EXPECT_EQ(printed, c.line ? writeErrorLine : "") << "limit " << c.limit;
        EXPECT_EQ(readFile(path), c.status == 1 ? picture.bytes : "old picture") << "limit " << c.limit;
        EXPECT_EQ(dir.list(), std::vector<std::string>{"out.jpg"}) << "limit " << c.limit;
    }
}
