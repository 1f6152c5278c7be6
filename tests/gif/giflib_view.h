// Pictures as giflib sees them, and the picture our reader should make of
// them, for comparing the two.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/gif_image.h"

namespace gif_testing {

struct GiflibFrame {
    int left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    bool localTable = false;
    std::vector<std::uint8_t> pixels;   // width x height, top row first
    std::vector<std::uint8_t> colours;  // the table in force, 3 bytes per entry
    int transparentIndex = -1;          // from a graphic control extension before it
    int disposal = 0;                   // the extension's disposal method
};

struct GiflibPicture {
    bool ok = false;
    std::string error;
    std::string version;  // "87a", "89a"
    int width = 0, height = 0;
    std::vector<GiflibFrame> frames;
};

GiflibPicture giflibRead(const std::string& path);

// What read(path, frame) should leave: screen pixels (top row first),
// palette, and transparency.
struct Expected {
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t> palette;  // 768 bytes
    bool hasTransparent = false;
    int transparentIndex = 0;
    bool restore = false;
};
Expected expectedRead(const GiflibPicture& picture, int frame);

// The picture's pixels, top row first, without row padding.
std::vector<std::uint8_t> screenPixels(RasterImage& image);

// A palette picture of the given size, pixels top row first.
void makePicture(GifImage& image, int width, int height, const std::vector<std::uint8_t>& pixels);

// The data sub-blocks of the (only) image of a file we wrote, and the LZW
// bytes they hold.
struct WrittenImage {
    bool ok = false;
    std::vector<int> blockSizes;
    std::vector<std::uint8_t> data;
    int minimumCodeSize = 0;
};
WrittenImage parseWritten(const std::string& bytes);

}  // namespace gif_testing
