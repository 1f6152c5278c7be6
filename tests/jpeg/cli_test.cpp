// `vorn save-jpeg` on real PPM files, checked by libjpeg and ImageMagick.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/common/test_support.h"
#include "tests/jpeg/jpeg_reader.h"

using testing_support::TempDir;
using testing_support::buildPath;
using testing_support::dataPath;
using testing_support::readFile;
using testing_support::run;
using testing_support::writeFile;

namespace {

std::string shellQuoted(const std::string& text) { return "'" + text + "'"; }

int vornSaveJpeg(const std::string& in, const std::string& out, std::string* printed) {
    return run(shellQuoted(buildPath("vorn")) + " save-jpeg " + shellQuoted(in) + " " + shellQuoted(out), printed);
}

}  // namespace

TEST(VornSaveJpeg, RealPicturesDecodeEverywhere) {
    const struct {
        const char* name;
        int width, height;
        double leastPsnr;  // 0: too small to judge by the colours
    } cases[] = {{"rose-70x46.ppm", 70, 46, 28.0}, {"marks-3x2.ppm", 3, 2, 0}};
    for (const auto& c : cases) {
        TempDir dir;
        std::string in = dataPath(std::string("ppm/") + c.name);
        std::string out = dir.file("out.jpg");
        std::string printed;
        ASSERT_EQ(vornSaveJpeg(in, out, &printed), 0) << printed;
        EXPECT_EQ(printed, "");

        jpeg_reader::Picture picture;
        ASSERT_TRUE(jpeg_reader::readPpm(readFile(in), picture));
        jpeg_reader::Decoded decoded = jpeg_reader::decode(readFile(out));
        ASSERT_TRUE(decoded.ok) << decoded.error;
        EXPECT_EQ(decoded.width, c.width);
        EXPECT_EQ(decoded.height, c.height);
        if (c.leastPsnr > 0) {
            EXPECT_GT(jpeg_reader::psnr(decoded, picture.pixels), c.leastPsnr) << c.name;
        }

        std::string described;
        ASSERT_EQ(run("identify -format '%m %w %h %Q %[jpeg:sampling-factor] %[colorspace]' " + shellQuoted(out),
                      &described),
                  0)
            << described;
        EXPECT_EQ(described, "JPEG " + std::to_string(c.width) + " " + std::to_string(c.height) +
                                 " 90 2x2,1x1,1x1 sRGB");
        if (c.leastPsnr > 0) {
            std::string metric;
            run("compare -metric PSNR " + shellQuoted(in) + " " + shellQuoted(out) + " null:", &metric);
            EXPECT_GT(std::atof(metric.c_str()), c.leastPsnr) << metric;
        }
    }
}

// The tiny picture: luminance survives the 2x2 colour sampling, so the dark
// blue corner stays the darkest pixel and the bright green one the brightest.
TEST(VornSaveJpeg, TheMarksStayInTheirCorners) {
    TempDir dir;
    std::string out = dir.file("marks.jpg");
    ASSERT_EQ(vornSaveJpeg(dataPath("ppm/marks-3x2.ppm"), out, nullptr), 0);
    std::string gray;
    ASSERT_EQ(run("convert " + shellQuoted(out) + " -colorspace Gray -depth 8 gray:- | od -An -tu1 -v", &gray), 0);
    std::vector<int> levels;
    for (char* at = gray.data();;) {
        char* end = nullptr;
        long v = std::strtol(at, &end, 10);
        if (end == at) break;
        levels.push_back(static_cast<int>(v));
        at = end;
    }
    ASSERT_EQ(levels.size(), 6u) << gray;
    for (int i = 1; i < 6; ++i) EXPECT_LT(levels[0], levels[i]) << "top left is blue";
    for (int i = 0; i < 5; ++i) EXPECT_GT(levels[5], levels[i]) << "bottom right is green";
}

TEST(VornSaveJpeg, FailuresExitWithOneAndShowNothing) {
    TempDir dir;
    std::string in = dataPath("ppm/rose-70x46.ppm");
    std::string printed;
    EXPECT_EQ(vornSaveJpeg(in, dir.file("missing/out.jpg"), &printed), 1);
    EXPECT_EQ(printed, "");
    EXPECT_TRUE(dir.list().empty());

    std::string prefix = dir.path() + "/";
    std::string victim = prefix + std::string(255 - prefix.size(), 'v');
    ASSERT_TRUE(writeFile(victim, "keep me"));
    EXPECT_EQ(vornSaveJpeg(in, victim + std::string(45, 'v'), &printed), 1);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(readFile(victim), "keep me");
}
