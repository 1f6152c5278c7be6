#include <gtest/gtest.h>

#include "image/raster_image.h"
#include "tests/common/test_support.h"

using testing_support::Recorder;

TEST(RasterImage, FormatDerivesRowsAndSize) {
    struct Case {
        int w, h, kind, bytesPerPixel, rowBytes, stride, totalSize;
    };
    const Case cases[] = {
        {10, 2, 1, 1, 10, 12, 24},
        {10, 2, 2, 3, 30, 32, 64},
        {4, 3, 1, 1, 4, 4, 12},
        {1, 5, 2, 3, 3, 4, 20},
        {65532, 1, 1, 1, 65532, 65532, 65532},
    };
    for (const Case& c : cases) {
        RasterImage image;
        image.setFormat(c.w, c.h, c.kind);
        EXPECT_EQ(image.bytesPerPixel, c.bytesPerPixel) << c.w;
        EXPECT_EQ(image.rowBytes, c.rowBytes) << c.w;
        EXPECT_EQ(image.stride, c.stride) << c.w;
        EXPECT_EQ(image.totalSize, c.totalSize) << c.w;
    }
}

TEST(RasterImage, AddressesRowsBottomUpAndTopDown) {
    RasterImage image;
    image.setFormat(5, 4, 2);
    ASSERT_EQ(image.allocatePixels(), 1);
    EXPECT_EQ(image.pixelAddress(0, 0), image.pixels + 3 * image.stride);
    EXPECT_EQ(image.pixelAddress(0, 3), image.pixels);
    EXPECT_EQ(image.pixelAddress(2, 1), image.pixels + 2 * image.stride + 6);
    std::uint8_t* next = image.nextRow();
    EXPECT_EQ(next, image.pixels + image.stride + 6);
    EXPECT_EQ(next, image.pixelAddress(2, 2));
    image.bottomUp = 0;
    image.pixelAddress(1, 1);
    EXPECT_EQ(image.nextRow(), image.pixels + 2 * image.stride + 3);
}

TEST(RasterImage, FreshBlocksAreZeroAndASecondAllocationKeepsTheFirst) {
    RasterImage image;
    image.setFormat(7, 3, 1);
    ASSERT_EQ(image.allocatePixels(), 1);
    ASSERT_EQ(image.allocatePalette(), 1);
    for (int i = 0; i < image.totalSize; ++i) ASSERT_EQ(image.pixels[i], 0);
    for (int i = 0; i < RasterImage::paletteBytes; ++i) ASSERT_EQ(image.palette[i], 0);
    std::uint8_t* first = image.pixels;
    image.setFormat(100, 100, 1);
    EXPECT_EQ(image.allocatePixels(), 1);
    EXPECT_EQ(image.pixels, first);
}

// No block too small for its rows: formats beyond the 16-bit stride or 32-bit size are refused.
TEST(RasterImage, FormatsThatDoNotFitAreRefused) {
    struct Case {
        int w, h, kind;
    };
    const Case cases[] = {{65533, 1, 1}, {65535, 65535, 1}, {21845, 1, 2}, {-1, 5, 1}, {5, -1, 2}, {60000, 60000, 1}};
    for (const Case& c : cases) {
        Recorder recorder;
        RasterImage image;
        image.setFormat(c.w, c.h, c.kind);
        EXPECT_EQ(image.allocatePixels(), 0) << c.w << "x" << c.h;
        EXPECT_EQ(image.pixels, nullptr);
        EXPECT_EQ(recorder.boxCount("Sorry, not enough memory"), 1);
    }
}

TEST(RasterImage, AnEmptyPictureGetsNoBlock) {
    Recorder recorder;
    RasterImage image;
    image.setFormat(0, 10, 1);
    EXPECT_EQ(image.allocatePixels(), 0);
    EXPECT_EQ(recorder.boxCount("Sorry, not enough memory"), 1);
}

TEST(RasterImage, FailedAllocationsReportZero) {
    Recorder recorder;
    fault::Scope faults;
    fault::failAt(fault::Kind::Alloc, 1, true);
    RasterImage image;
    image.setFormat(4, 4, 1);
    EXPECT_EQ(image.allocatePixels(), 0);
    EXPECT_EQ(image.allocatePalette(), 0);
    EXPECT_EQ(image.ownsPixels, 0);
    EXPECT_EQ(image.ownsPalette, 0);
}
