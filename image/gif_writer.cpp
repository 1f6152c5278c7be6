// Writing a palette picture as a GIF89a file: one interlaced image over the
// whole picture, LZW-coded with a hashed string table.
#include <cstring>

#include "image/gif_image.h"
#include "support/errors.h"
#include "support/files.h"
#include "support/memory.h"

namespace {

constexpr char signature89a[6] = {'G', 'I', 'F', '8', '9', 'a'};
constexpr std::uint8_t imageSeparator = 0x2C;
constexpr std::uint8_t trailer = 0x3B;
constexpr std::uint8_t globalTableFlag = 0x80;
constexpr std::uint8_t interlacedFlag = 0x40;
constexpr std::uint8_t transparentFlag = 0x01;
constexpr std::uint8_t disposalRestoreFlag = 0x08;

constexpr std::int32_t minimumCodeSize = 8;
constexpr std::int32_t largestCode = 4095;
constexpr std::int32_t largestCodeBits = 12;
constexpr std::int32_t fullBlock = 254;  // complete bytes that make a sub-block go out
constexpr std::int32_t largestBlock = 255;

constexpr std::uint32_t slotMask = GifEncoderState::slotCount - 1;
constexpr std::int32_t codeFieldBits = 12;
constexpr std::uint32_t codeFieldMask = (1u << codeFieldBits) - 1;

// The string key (prefix code e, pixel c) and its first slot: the pixel in
// the high byte spreads the strings of one prefix over the table.
inline std::uint32_t stringKey(std::int32_t e, std::int32_t c) {
    return (static_cast<std::uint32_t>(e) << 8) | static_cast<std::uint32_t>(c);
}
inline std::uint32_t firstSlot(std::int32_t e, std::int32_t c) {
    return ((static_cast<std::uint32_t>(c) << 8) ^ static_cast<std::uint32_t>(e)) & slotMask;
}

constexpr std::uint8_t noPalette[RasterImage::paletteBytes] = {};

// The colour table's size field b: 2^(b+1) entries hold every value up to v.
std::uint8_t tableSizeField(std::int32_t v) {
    std::uint8_t b = 0;
    for (std::int32_t bit = 7; bit >= 1; --bit) {
        if ((v >> bit) & 1) {
            b = static_cast<std::uint8_t>(bit);
            break;
        }
    }
    return b;
}

// Places a code at bit r of byte p, least significant bit first; the bytes
// beyond it become 0.
inline void packCode(std::uint8_t* buffer, std::int32_t& bitCount, std::int32_t codeBits, std::int32_t code) {
    std::int32_t p = bitCount >> 3;
    std::int32_t r = bitCount & 7;
    std::uint32_t value = (static_cast<std::uint32_t>(code) << r) | buffer[p];
    buffer[p] = static_cast<std::uint8_t>(value);
    buffer[p + 1] = static_cast<std::uint8_t>(value >> 8);
    if (r != 0) buffer[p + 2] = static_cast<std::uint8_t>(value >> 16);
    bitCount += codeBits;
}

}  // namespace

std::int32_t GifImage::largestPixel() const {
    // The highest bit of the largest value is the highest bit of all values
    // taken together; once bit 7 is in, nothing can grow the table further.
    constexpr std::int32_t chunk = 4096;
    std::uint8_t seen = 0;
    for (std::int32_t at = 0; at < totalSize && pixels != nullptr; at += chunk) {
        std::int32_t end = totalSize - at < chunk ? totalSize : at + chunk;
        for (std::int32_t i = at; i < end; ++i) seen |= pixels[i];
        if (seen >= 128) break;
    }
    return seen;
}

int GifImage::save(const char* path) {
    if (pixelKind != paletteKind) {
        showError("GIF requires 256 color format");
        return 0;
    }
    std::memcpy(screenDescriptor.signature, signature89a, sizeof signature89a);
    screenDescriptor.screenWidth = static_cast<std::uint16_t>(width);
    screenDescriptor.screenHeight = static_cast<std::uint16_t>(height);
    screenDescriptor.backgroundIndex = 0;
    screenDescriptor.aspectRatio = 0;

    outputFile = createForWriting(path, 1);
    if (outputFile == INVALID_HANDLE_VALUE) {
        outputFile = nullptr;
        return 0;
    }
    std::uint8_t b = tableSizeField(largestPixel());
    screenDescriptor.screenFlags = static_cast<std::uint8_t>(globalTableFlag + b);
    writeBytes(outputFile, &screenDescriptor, sizeof screenDescriptor);
    writeBytes(outputFile, palette != nullptr ? palette : noPalette, 3 * (1 << (b + 1)));

    // 270 KB: kept off the stack. Zeroed memory is an empty state.
    auto* state = static_cast<GifEncoderState*>(allocZeroed(sizeof(GifEncoderState)));
    if (state == nullptr) {
        discardFile(outputFile);
        outputFile = nullptr;
        return 0;
    }
    writeFrame(*state);
    freeIfSet(state);

    writeByte(outputFile, trailer);
    int written = closeFile(outputFile);
    outputFile = nullptr;
    return written;
}

void GifImage::writeFrame(GifEncoderState& state) {
    if (hasTransparent == 1) {
        std::uint8_t flags = transparentFlag;
        if (restoreToBackground == 1) flags |= disposalRestoreFlag;
        const std::uint8_t extension[8] = {0x21, 0xF9, 4, flags, 0, 0, transparentIndex, 0};
        writeBytes(outputFile, extension, sizeof extension);
    }
    imageDescriptor.left = 0;
    imageDescriptor.top = 0;
    imageDescriptor.frameWidth = static_cast<std::uint16_t>(width);
    imageDescriptor.frameHeight = static_cast<std::uint16_t>(height);
    imageDescriptor.frameFlags = interlacedFlag;
    writeByte(outputFile, imageSeparator);
    writeBytes(outputFile, &imageDescriptor, sizeof imageDescriptor);
    encodeImage(state);
}

void GifImage::resetCodes(GifEncoderState& state, std::int32_t initialBits) {
    for (std::int32_t code = state.clearCode + 2; code < state.nextCode; ++code)
        state.stringSlots[state.slotOfCode[code]] = 0;
    state.codeBits = initialBits + 1;
    state.clearCode = 1 << initialBits;
    state.endCode = state.clearCode + 1;
    state.nextCode = state.clearCode + 2;
    state.codeLimit = 1 << state.codeBits;
}

void GifImage::flushBlock(GifEncoderState& state, std::int32_t count) {
    writeByte(outputFile, count & 0xFF);
    if (count > 0) writeBytes(outputFile, state.outBuffer, count);
}

void GifImage::putCode(GifEncoderState& state, std::int32_t code) {
    if ((state.bitCount >> 3) >= fullBlock) {
        std::int32_t p = state.bitCount >> 3;
        flushBlock(state, p);
        state.outBuffer[0] = state.outBuffer[p];
        state.bitCount &= 7;
    }
    packCode(state.outBuffer, state.bitCount, state.codeBits, code);
}

void GifImage::encodeImage(GifEncoderState& state) {
    state.initBits = minimumCodeSize;
    writeByte(outputFile, state.initBits);
    state.bitCount = 0;
    resetCodes(state, state.initBits);
    putCode(state, state.clearCode);

    if (pixels != nullptr && width > 0 && height > 0) {
        // The loop keeps the encoder's counters in locals, handing them back
        // to the state only around a sub-block write.
        std::uint32_t* const slots = state.stringSlots;
        std::uint16_t* const slotOfCode = state.slotOfCode;
        std::uint8_t* const outBuffer = state.outBuffer;
        std::int32_t bitCount = state.bitCount;
        std::int32_t codeBits = state.codeBits;
        std::int32_t codeLimit = state.codeLimit;
        std::int32_t nextCode = state.nextCode;
        const std::int32_t clearCode = state.clearCode;
        auto put = [&](std::int32_t code) {
            if ((bitCount >> 3) >= fullBlock) {
                std::int32_t p = bitCount >> 3;
                flushBlock(state, p);
                outBuffer[0] = outBuffer[p];
                bitCount &= 7;
            }
            packCode(outBuffer, bitCount, codeBits, code);
        };
        auto restart = [&] {
            state.nextCode = nextCode;  // the codes whose slots are to be emptied
            resetCodes(state, state.initBits);
            codeBits = state.codeBits;
            codeLimit = state.codeLimit;
            nextCode = state.nextCode;
        };

        std::int32_t pass = 0;
        std::int32_t rowOffset = 0;
        std::int32_t current = -1;  // the string code e
        for (std::int32_t rowsDone = 0; rowsDone < height; ++rowsDone) {
            const std::uint8_t* in = pixelAddress(0, rowOffset);
            const std::uint8_t* rowEnd = in + width;
            if (current < 0) current = *in++;
            while (in != rowEnd) {
                std::int32_t c = *in++;
                const std::uint32_t key = stringKey(current, c);
                std::uint32_t slot = firstSlot(current, c);
                std::uint32_t entry;
                while ((entry = slots[slot]) != 0 && (entry >> codeFieldBits) != key) slot = (slot + 1) & slotMask;
                if (entry != 0) {
                    current = static_cast<std::int32_t>(entry & codeFieldMask);
                    continue;
                }
                put(current);
                std::int32_t assigned = largestCode + 1;  // the value a full table compares
                if (nextCode <= largestCode) {
                    slots[slot] = (key << codeFieldBits) | static_cast<std::uint32_t>(nextCode);
                    slotOfCode[nextCode] = static_cast<std::uint16_t>(slot);
                    assigned = nextCode++;
                }
                if (assigned == codeLimit) {
                    if (codeBits < largestCodeBits) {
                        ++codeBits;
                        codeLimit <<= 1;
                    } else {
                        put(clearCode);
                        restart();
                    }
                }
                current = c;
            }
            if (rowsDone + 1 == height) break;
            rowOffset += gifPassStep[pass];
            while (rowOffset >= height && pass < 3) rowOffset = gifPassStart[++pass];
        }
        put(current);
        state.bitCount = bitCount;
        state.codeBits = codeBits;
        state.codeLimit = codeLimit;
        state.nextCode = nextCode;
    }
    putCode(state, state.endCode);

    if (state.bitCount > 0) {
        std::int32_t bytes = (state.bitCount + 7) / 8;
        if (bytes > largestBlock) {
            flushBlock(state, largestBlock);
            std::memmove(state.outBuffer, state.outBuffer + largestBlock, static_cast<std::size_t>(bytes - largestBlock));
            bytes -= largestBlock;
        }
        flushBlock(state, bytes);
    }
    flushBlock(state, 0);
}
