// The benchmark's picture and the peer it is measured against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BenchPicture {
    std::string name;
    int width = 0;
    int height = 0;
    std::vector<std::int32_t> values;  // 0xRRGGBB, top row first, as the VM holds them
    std::vector<std::uint8_t> bgr;     // the same pixels as blue, green, red rows, top row first
};

// Runs an ImageMagick command line that writes a binary PPM on its standard
// output. False when it fails.
bool makePicture(const std::string& name, const std::string& command, BenchPicture& picture);

// The floor: libjpeg-turbo compressing the BGR rows into a file through its
// own stdio destination, with the settings VornNative_saveJPEG uses.
bool compressWithLibjpeg(const BenchPicture& picture, const char* path);
