// GIF files: reading one image of a file into a palette picture, and writing
// a palette picture as a one-image interlaced GIF89a file.
#pragma once

#include <cstdint>

#include "image/raster_image.h"
#include "platform/win_types.h"

#pragma pack(push, 1)
// The header and logical screen descriptor, byte for byte as in the file.
struct GifScreenDescriptor {
    char signature[6];
    std::uint16_t screenWidth;
    std::uint16_t screenHeight;
    std::uint8_t screenFlags;
    std::uint8_t backgroundIndex;
    std::uint8_t aspectRatio;
};
// The image descriptor that follows the separator 0x2C.
struct GifImageDescriptor {
    std::uint16_t left;
    std::uint16_t top;
    std::uint16_t frameWidth;
    std::uint16_t frameHeight;
    std::uint8_t frameFlags;
};
#pragma pack(pop)
static_assert(sizeof(GifScreenDescriptor) == 13);
static_assert(sizeof(GifImageDescriptor) == 9);

// Interlaced rows: pass p covers rows gifPassStart[p], + gifPassStep[p], ...
inline constexpr std::int32_t gifPassStep[4] = {8, 8, 4, 2};
inline constexpr std::int32_t gifPassStart[4] = {0, 4, 2, 1};

// The LZW encoder of one save.
struct GifEncoderState {
    static constexpr std::int32_t hashSize = 5003;  // a prime above the 3838 strings of one table

    std::int32_t initBits = 0;
    std::int32_t codeBits = 0;
    std::int32_t codeLimit = 0;
    std::int32_t clearCode = 0;
    std::int32_t endCode = 0;
    std::int32_t nextCode = 0;
    std::int32_t bitCount = 0;
    std::uint8_t outBuffer[256] = {};
    std::uint16_t hashCodes[hashSize] = {};
    std::uint16_t hashPrefixes[hashSize] = {};
    std::uint8_t hashSuffixes[hashSize] = {};
};

class GifImage : public RasterImage {
public:
    HANDLE outputFile = nullptr;
    std::int32_t framesRead = 0;
    GifScreenDescriptor screenDescriptor = {};
    GifImageDescriptor imageDescriptor = {};
    std::int32_t restoreToBackground = 0;

    GifImage() = default;
    ~GifImage() override;

    // Reading. read: 1 when the image numbered frameIndex (from 0) was reached.
    int read(const char* path, std::int32_t frameIndex);
    // The same on a file already in source (which it releases); name is what
    // a trace names.
    int readLoaded(const char* name, std::int32_t frameIndex);
    int readScreen(const char* path);
    int selectFrame(std::int32_t frameIndex);
    int skipFrame();
    int decodeFrame();
    void readExtension();
    void skipSubBlocks();
    void decodeImage(std::int32_t left, std::int32_t top, std::int32_t w, std::int32_t h);

    // Writing. save: 1 when the file was created, written whole and put in
    // place; 0 otherwise (the file that was there stays as it was).
    int save(const char* path);
    void writeFrame(GifEncoderState& state);
    void encodeImage(GifEncoderState& state);
    static void resetCodes(GifEncoderState& state, std::int32_t initialBits);
    void putCode(GifEncoderState& state, std::int32_t code);
    void flushBlock(GifEncoderState& state, std::int32_t count);

private:
    int takeScreen(const char* name);
    void takeColourTable(std::uint8_t flags);
    void fillArea(std::int32_t left, std::int32_t top, std::int32_t w, std::int32_t h, std::uint8_t value);
    std::int32_t largestPixel() const;
};
