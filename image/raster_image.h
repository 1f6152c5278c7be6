// The in-memory picture: 8-bit palette indices with a 768-byte palette, or
// 3-byte blue-green-red pixels; rows stored bottom-up, each padded to a
// multiple of four bytes.
#pragma once

#include <cstdint>

#include "support/memory_file.h"

class RasterImage {
public:
    MemoryFile source;  // filled and released by a reading subclass
    std::uint8_t* pixels = nullptr;
    std::uint8_t* rowCursor = nullptr;
    std::uint8_t* palette = nullptr;
    std::int32_t totalSize = 0;
    std::int32_t ownsPixels = 0;
    std::int32_t ownsPalette = 0;
    std::int32_t bottomUp = 1;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t pixelKind = 0;  // 1: palette index; any other: blue, green, red
    std::int32_t bytesPerPixel = 0;
    std::int32_t rowBytes = 0;
    std::int32_t stride = 0;  // kept to 16 bits
    std::int32_t hasTransparent = 0;
    std::uint8_t transparentIndex;

    static constexpr std::int32_t paletteBytes = 768;
    static constexpr std::int32_t paletteKind = 1;
    static constexpr std::int32_t colourKind = 2;

    RasterImage() = default;
    virtual ~RasterImage();
    RasterImage(const RasterImage&) = delete;
    RasterImage& operator=(const RasterImage&) = delete;

    void setFormat(std::int32_t w, std::int32_t h, std::int32_t kind);
    // 1 when the pixel block exists. A format whose rows do not fit the 16-bit
    // stride, or whose size does not fit 32 bits, or that is negative, is
    // refused (after "Sorry, not enough memory") rather than given a block
    // too small for its rows.
    int allocatePixels();
    int allocatePalette();
    virtual std::uint8_t* pixelAddress(std::int32_t x, std::int32_t y);
    std::uint8_t* nextRow();

    // Whether the format fits the model: rows up to 65532 bytes, a block
    // within 32 bits.
    bool formatFits() const;
};
