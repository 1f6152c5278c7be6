// Reading back what the writer made, with libjpeg's own decompressor and a
// marker walk of our own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jpeg_reader {

struct Rgb {
    int r, g, b;
};

struct Decoded {
    bool ok = false;
    std::string error;  // the library's message when not ok
    int width = 0;
    int height = 0;
    int components = 0;
    std::vector<std::uint8_t> rgb;  // top row first
    Rgb at(int x, int y) const;
};

Decoded decode(const std::string& bytes);

// One marker segment: the second marker byte and what its length covers
// (without the length itself). SOI and EOI have no body; the entropy-coded
// data after SOS is skipped.
struct Segment {
    int marker;
    std::string body;
};

// The file's segments in order; false (with what went wrong) when the file
// does not start with SOI, a segment runs past the end, or anything follows
// EOI.
bool segments(const std::string& bytes, std::vector<Segment>& out, std::string& problem);

// A binary PPM (P6, maxval 255) as 0xRRGGBB values, top row first.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::int32_t> pixels;
};
bool readPpm(const std::string& bytes, Picture& picture);

// Peak signal-to-noise ratio of a decoded picture against the values.
double psnr(const Decoded& decoded, const std::vector<std::int32_t>& pixels);

}  // namespace jpeg_reader
