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

// The LZW encoder of one save. Its string table is open-addressed: the key
// (prefix code, pixel) hashes to a slot and the walk goes on to the next slot
// until it meets the key or an empty slot. With 65536 slots for at most 3838
// strings, nearly every look-up ends at its first slot, and a walk always
// ends. Which slot holds a string changes nothing in the codes written.
// Plain data with no initialisers, so that a zeroed block is a fresh state.
struct GifEncoderState {
    static constexpr std::int32_t slotBits = 16;
    static constexpr std::int32_t slotCount = 1 << slotBits;
    static constexpr std::int32_t codeCount = 4096;

    std::int32_t initBits;
    std::int32_t codeBits;
    std::int32_t codeLimit;
    std::int32_t clearCode;
    std::int32_t endCode;
    std::int32_t nextCode;
    std::int32_t bitCount;
    std::uint8_t outBuffer[256];
    // (prefix << 8 | pixel) << 12 | code; 0 marks an empty slot (no string
    // has a code below 258).
    std::uint32_t stringSlots[slotCount];
    // The slot of each code of the current table, so that a new table
    // empties only the slots in use.
    std::uint16_t slotOfCode[codeCount];
};

class GifImage : public RasterImage {
public:
    HANDLE outputFile = nullptr;
    std::int32_t framesRead = 0;
    GifScreenDescriptor screenDescriptor = {};
    GifImageDescriptor imageDescriptor = {};
    std::int32_t restoreToBackground = 0;
    // 1 when the decoder's workspace could not be had: the pixel block then
    // holds nothing of the image, and writing it back would destroy the file.
    std::int32_t workspaceMissing = 0;

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
