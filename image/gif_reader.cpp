// Reading one image of a GIF file: the blocks up to it, its colour table and
// its LZW data, decoded in place from the loaded file.
#include <cstring>

#include "image/gif_image.h"
#include "support/errors.h"
#include "support/memory.h"

namespace {

constexpr std::uint8_t imageSeparator = 0x2C;
constexpr std::uint8_t extensionIntroducer = 0x21;
constexpr std::uint8_t trailer = 0x3B;
constexpr std::uint8_t graphicControlLabel = 0xF9;

constexpr std::uint8_t colourTableFollows = 0x80;
constexpr std::uint8_t colourTableSizeMask = 0x07;
constexpr std::uint8_t interlacedFlag = 0x40;
constexpr std::uint8_t disposalRestoreFlag = 0x08;
constexpr std::uint8_t transparentFlag = 0x01;

constexpr std::int32_t largestCodeBits = 12;
constexpr std::int32_t tableEntries = 4096;
constexpr std::int32_t stringStackBytes = 8192;
constexpr std::int32_t suffixTableBytes = 8192;
constexpr std::int32_t prefixTableEntries = 4098;

// The mask of each code width.
constexpr std::uint32_t codeMask[largestCodeBits + 1] = {0x0,  0x1,   0x3,   0x7,   0xF,   0x1F,  0x3F,
                                                         0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};

#pragma pack(push, 1)
struct GraphicControlRecord {
    std::uint8_t blockSize;
    std::uint8_t flags;
    std::uint16_t delayTime;
    std::uint8_t transparentIndex;
    std::uint8_t terminator;
};
#pragma pack(pop)
static_assert(sizeof(GraphicControlRecord) == 6);

std::int32_t colourTableBytes(std::uint8_t flags) { return 3 * (1 << ((flags & colourTableSizeMask) + 1)); }

// The decoder's workspace for one image; freed however decoding ends.
struct DecodeWorkspace {
    std::uint8_t* stringStack = nullptr;
    std::uint8_t* suffixTable = nullptr;
    std::uint16_t* prefixTable = nullptr;
    std::uint16_t* lengthTable = nullptr;  // pixels in each entry's string
    std::uint8_t** startTable = nullptr;   // where each entry's string lies in the picture, or null

    int allocate() {
        stringStack = static_cast<std::uint8_t*>(allocZeroed(stringStackBytes));
        if (stringStack != nullptr) suffixTable = static_cast<std::uint8_t*>(allocZeroed(suffixTableBytes));
        if (suffixTable != nullptr)
            prefixTable = static_cast<std::uint16_t*>(allocZeroed(prefixTableEntries * sizeof(std::uint16_t)));
        if (prefixTable != nullptr)
            lengthTable = static_cast<std::uint16_t*>(allocZeroed(tableEntries * sizeof(std::uint16_t)));
        if (lengthTable != nullptr)
            startTable = static_cast<std::uint8_t**>(allocZeroed(tableEntries * sizeof(std::uint8_t*)));
        return startTable != nullptr;
    }
    ~DecodeWorkspace() {
        freeIfSet(stringStack);
        freeIfSet(suffixTable);
        freeIfSet(prefixTable);
        freeIfSet(lengthTable);
        freeIfSet(startTable);
    }
};

// Codes taken least significant bit first across the data sub-blocks, read
// in place from the loaded file.
class CodeReader {
public:
    explicit CodeReader(MemoryFile& file) : source(file) {}

    // The next code of the given width, or -1 when the data has ended.
    std::int32_t next(std::int32_t bits) {
        while (held < bits) {
            if (blockLeft == 0 && !nextBlock()) return -1;
            if (blockLeft >= 4 && held <= 32) {
                std::uint32_t word;
                std::memcpy(&word, block, 4);
                accumulator |= static_cast<std::uint64_t>(word) << held;
                block += 4;
                blockLeft -= 4;
                held += 32;
            } else {
                accumulator |= static_cast<std::uint64_t>(*block++) << held;
                --blockLeft;
                held += 8;
            }
        }
        std::int32_t code = static_cast<std::int32_t>(accumulator & codeMask[bits]);
        accumulator >>= bits;
        held -= bits;
        return code;
    }

private:
    // A count byte of 0 ends the data; a count that runs past the file's end
    // gives the bytes that are there, and the data ends after them.
    bool nextBlock() {
        if (ended) return false;
        std::int32_t count = source.readByte();
        if (count == 0) {
            ended = true;
            return false;
        }
        if (count > source.remaining()) {
            ended = true;
            count = source.remaining();
            if (count == 0) return false;
        }
        block = source.skip(count);
        if (block == nullptr) return false;
        blockLeft = count;
        return true;
    }

    MemoryFile& source;
    const std::uint8_t* block = nullptr;
    std::int32_t blockLeft = 0;
    std::uint64_t accumulator = 0;
    std::int32_t held = 0;
    bool ended = false;
};

// Where decoded pixels go: rows of the image in file order (interlaced or
// not), each clipped to the part that lies on the picture.
class PixelSink {
public:
    PixelSink(RasterImage& image, std::int32_t left, std::int32_t top, std::int32_t w, std::int32_t h,
              bool interlaced, std::int32_t keepIndex)
        : picture(image), left(left), top(top), width(w), height(h), interlaced(interlaced), keepIndex(keepIndex) {
        std::int32_t room = image.width - left;
        visibleWidth = room <= 0 ? 0 : (w < room ? w : room);
        direct = keepIndex < 0 && visibleWidth == w && top + h <= image.height;
        startRow();
    }

    bool finished() const { return rowsDone >= height; }

    // Where the next pixel goes when the whole image lands unclipped and
    // every pixel stored stays as decoded; null otherwise. A caller may
    // store pixels from there up to rowEnd() itself and then seek().
    std::uint8_t* position() const { return direct && !finished() ? row + column : nullptr; }
    std::uint8_t* rowEnd() const { return row + width; }
    // The caller stored pixels up to (not including) at, in this row.
    void seek(const std::uint8_t* at) {
        column = static_cast<std::int32_t>(at - row);
        if (column == width) endRow();
    }

    // Stores a string given last pixel first through the table, fast when
    // the whole string lands inside the current visible row. Returns the
    // string's first pixel.
    std::int32_t putString(std::int32_t code, std::int32_t length, std::int32_t clearCode, const std::uint8_t* suffixTable,
                   const std::uint16_t* prefixTable, std::uint8_t* stack) {
        if (row != nullptr && keepIndex < 0 && column + length <= visibleWidth) {
            std::uint8_t* out = row + column + length - 1;
            while (code >= clearCode) {
                *out-- = suffixTable[code];
                code = prefixTable[code];
            }
            *out = static_cast<std::uint8_t>(code);
            column += length;
            if (column == width) endRow();
            return code;
        }
        std::uint8_t* sp = stack;
        while (code >= clearCode) {
            *sp++ = suffixTable[code];
            code = prefixTable[code];
        }
        put(static_cast<std::uint8_t>(code));
        while (sp != stack && !finished()) put(*--sp);
        return code;
    }

private:
    void put(std::uint8_t pixel) {
        if (finished()) return;
        if (row != nullptr && column < visibleWidth && pixel != keepIndex) row[column] = pixel;
        if (++column == width) endRow();
    }

    void endRow() {
        column = 0;
        if (++rowsDone >= height) return;
        if (interlaced) {
            rowOffset += gifPassStep[pass];
            while (rowOffset >= height && pass < 3) rowOffset = gifPassStart[++pass];
        } else {
            ++rowOffset;
        }
        startRow();
    }

    void startRow() {
        std::int32_t y = top + rowOffset;
        row = (visibleWidth > 0 && y < picture.height) ? picture.pixelAddress(left, y) : nullptr;
    }

    RasterImage& picture;
    std::int32_t left, top, width, height;
    bool interlaced;
    std::int32_t keepIndex;  // pixels of this index leave what lies beneath; -1: none
    std::int32_t visibleWidth = 0;
    bool direct = false;  // the whole image lands unclipped and unmasked
    std::uint8_t* row = nullptr;
    std::int32_t column = 0;
    std::int32_t rowsDone = 0;
    std::int32_t rowOffset = 0;
    std::int32_t pass = 0;
};

// The next-code bookkeeping both decoders share.
struct CodeTable {
    explicit CodeTable(std::int32_t minimumBits)
        : minimumBits(minimumBits), clearCode(1 << minimumBits), endCode(clearCode + 1) {
        reset();
    }
    void reset() {
        nextCode = clearCode + 2;
        codeBits = minimumBits + 1;
        codeLimit = 1 << codeBits;
    }
    // After an entry went in at nextCode.
    void grow() {
        ++nextCode;
        if (nextCode >= codeLimit && codeBits < largestCodeBits) {
            ++codeBits;
            codeLimit <<= 1;
        }
    }
    std::int32_t minimumBits, clearCode, endCode;
    std::int32_t nextCode = 0, codeBits = 0, codeLimit = 0;
};

inline void copyWord(std::uint8_t* to, const std::uint8_t* from) {
    std::uint64_t word;
    std::memcpy(&word, from, 8);
    std::memcpy(to, &word, 8);
}

// Copies a string of n bytes decoded before. In the same row the two
// overlap when the source is fewer than n bytes back; an interlaced image
// may have the source in a row further on. Whole 8-byte steps may run past
// the n bytes up to limit, into pixels not yet decoded.
inline void copyEarlier(std::uint8_t* out, const std::uint8_t* from, std::int32_t n, const std::uint8_t* limit) {
    std::ptrdiff_t distance = out - from;
    if (distance < 0) {
        std::memmove(out, from, static_cast<std::size_t>(n));
        return;
    }
    if (out + n + 7 <= limit) {
        if (n <= distance || distance >= 8) {
            for (std::int32_t done = 0; done < n; done += 8) copyWord(out + done, from + done);
            return;
        }
        // A run repeating every distance bytes: each step lays down all that
        // lies before it again, doubling the gap, until whole words can go.
        std::ptrdiff_t gap = distance;
        std::int32_t done = 0;
        while (gap < 8 && done < n) {
            copyWord(out + done, from);
            done += static_cast<std::int32_t>(gap);
            gap += gap;
        }
        for (; done < n; done += 8) copyWord(out + done, out + done - gap);
        return;
    }
    if (distance == 1) {
        std::memset(out, *from, static_cast<std::size_t>(n));
    } else {
        for (std::int32_t i = 0; i < n; ++i) out[i] = from[i];
    }
}

// Decodes into the pixel sink. A table entry's string is the previous
// code's string plus one pixel; where that lies in one row of the picture,
// the entry remembers the place and its string is copied from there rather
// than walked through the prefix table. True when the data was broken.
bool decodeThroughTable(CodeReader& codes, std::int32_t minimumBits, DecodeWorkspace& work, PixelSink& sink) {
    std::uint8_t* suffixTable = work.suffixTable;
    std::uint16_t* prefixTable = work.prefixTable;
    std::uint16_t* lengthTable = work.lengthTable;
    std::uint8_t** startTable = work.startTable;
    CodeTable table(minimumBits);
    for (std::int32_t i = 0; i < table.clearCode; ++i) lengthTable[i] = 1;
    std::int32_t previous = -1;
    std::int32_t firstPixel = 0;
    std::uint8_t* previousStart = nullptr;  // where the previous string lies whole in one row
    // The row being filled, kept here rather than in the sink while the
    // strings fit in it.
    std::uint8_t* cursor = sink.position();
    std::uint8_t* rowLimit = cursor != nullptr ? sink.rowEnd() : nullptr;
    for (;;) {
        std::int32_t code = codes.next(table.codeBits);
        if (code < 0 || code > table.nextCode) return true;
        if (code == table.endCode) return false;
        if (code == table.clearCode) {
            table.reset();
            previous = -1;
            previousStart = nullptr;
            continue;
        }
        // The entry this code defines: the previous string and one pixel.
        std::uint8_t* entryStart =
            previousStart != nullptr && cursor == previousStart + lengthTable[previous] ? previousStart : nullptr;
        bool added = false;
        if (code == table.nextCode) {
            // The string being defined by this very code: the previous one
            // and its own first pixel.
            if (previous < 0) return true;
            prefixTable[code] = static_cast<std::uint16_t>(previous);
            suffixTable[code] = static_cast<std::uint8_t>(firstPixel);
            lengthTable[code] = static_cast<std::uint16_t>(lengthTable[previous] + 1);
            startTable[code] = entryStart;
            added = true;
        }
        std::int32_t length = lengthTable[code];
        std::int32_t first;
        if (cursor != nullptr && length <= rowLimit - cursor) {
            if (code < table.clearCode) {
                *cursor = static_cast<std::uint8_t>(code);
                first = code;
            } else if (const std::uint8_t* from = startTable[code]; from != nullptr) {
                first = *from;
                copyEarlier(cursor, from, length, rowLimit);
            } else {
                std::uint8_t* out = cursor + length - 1;
                std::int32_t c = code;
                while (c >= table.clearCode) {
                    *out-- = suffixTable[c];
                    c = prefixTable[c];
                }
                *out = static_cast<std::uint8_t>(c);
                first = c;
            }
            previousStart = cursor;
            cursor += length;
            if (cursor == rowLimit) {
                sink.seek(cursor);
                cursor = sink.position();
                rowLimit = cursor != nullptr ? sink.rowEnd() : nullptr;
            }
        } else {
            if (cursor != nullptr) sink.seek(cursor);
            first = sink.putString(code, length, table.clearCode, suffixTable, prefixTable, work.stringStack);
            previousStart = nullptr;
            cursor = sink.position();
            rowLimit = cursor != nullptr ? sink.rowEnd() : nullptr;
        }
        if (previous >= 0 && table.nextCode < tableEntries) {
            if (!added) {
                prefixTable[table.nextCode] = static_cast<std::uint16_t>(previous);
                suffixTable[table.nextCode] = static_cast<std::uint8_t>(first);
                lengthTable[table.nextCode] = static_cast<std::uint16_t>(lengthTable[previous] + 1);
                startTable[table.nextCode] = entryStart;
            }
            table.grow();
        }
        if (sink.finished()) return false;
        firstPixel = first;
        previous = code;
    }
}

}  // namespace

GifImage::~GifImage() { source.release(); }

int GifImage::read(const char* path, std::int32_t frameIndex) {
    int result = readScreen(path) == 1 ? selectFrame(frameIndex) : 0;
    source.release();
    return result;
}

int GifImage::readLoaded(const char* name, std::int32_t frameIndex) {
    int result = allocatePalette() == 1 && takeScreen(name) == 1 ? selectFrame(frameIndex) : 0;
    source.release();
    return result;
}

int GifImage::readScreen(const char* path) {
    if (allocatePalette() == 0) return 0;
    if (source.load(path) == nullptr) return 0;
    return takeScreen(path);
}

int GifImage::takeScreen(const char* name) {
    source.readInto(&screenDescriptor, sizeof screenDescriptor);
    if (std::memcmp(screenDescriptor.signature, "GIF", 3) != 0) {
        traceMessage("Bad format: ");
        traceMessage(name);
        source.release();
        return 0;
    }
    takeColourTable(screenDescriptor.screenFlags);
    setFormat(screenDescriptor.screenWidth, screenDescriptor.screenHeight, paletteKind);
    return allocatePixels();
}

void GifImage::takeColourTable(std::uint8_t flags) {
    if ((flags & colourTableFollows) != 0) source.readInto(palette, colourTableBytes(flags));
}

int GifImage::selectFrame(std::int32_t frameIndex) {
    for (;;) {
        std::uint8_t b = source.readByte();
        if (b == imageSeparator) {
            if (framesRead >= frameIndex) return decodeFrame();
            source.cursor -= 1;  // skipFrame takes the separator again
            source.consumed -= 1;
            skipFrame();
        } else if (b == extensionIntroducer) {
            readExtension();
        } else if (b == trailer) {
            return 0;
        } else {
            traceMessage("Bad format: ");
            traceMessage(nullptr);
            return 0;
        }
    }
}

int GifImage::skipFrame() {
    source.readByte();
    if (source.consumed >= source.size) return 0;
    source.readInto(&imageDescriptor, sizeof imageDescriptor);
    takeColourTable(imageDescriptor.frameFlags);
    source.readByte();  // the LZW minimum code size
    skipSubBlocks();
    ++framesRead;
    return 1;
}

void GifImage::readExtension() {
    std::uint8_t label = source.readByte();
    if (label != graphicControlLabel) {
        skipSubBlocks();
        return;
    }
    GraphicControlRecord record;
    source.readInto(&record, sizeof record);
    if ((record.flags & disposalRestoreFlag) != 0) restoreToBackground = 1;
    if ((record.flags & transparentFlag) != 0) {
        hasTransparent = 1;
        transparentIndex = record.transparentIndex;
    }
}

void GifImage::skipSubBlocks() {
    // Past the end of the file readByte gives 0, which ends the walk.
    for (std::int32_t count = source.readByte(); count != 0; count = source.readByte()) source.skip(count);
}

void GifImage::fillArea(std::int32_t left, std::int32_t top, std::int32_t w, std::int32_t h, std::uint8_t value) {
    std::int32_t columns = width - left < w ? width - left : w;
    std::int32_t rows = height - top < h ? height - top : h;
    if (columns <= 0 || rows <= 0) return;
    std::uint8_t* row = pixelAddress(left, top);
    for (std::int32_t y = 0; y < rows; ++y) {
        std::memset(row, value, static_cast<std::size_t>(columns));
        row = nextRow();
    }
}

int GifImage::decodeFrame() {
    source.readInto(&imageDescriptor, sizeof imageDescriptor);
    takeColourTable(imageDescriptor.frameFlags);
    const GifImageDescriptor& d = imageDescriptor;
    // With no transparent colour declared the area is cleared to index 0.
    if (restoreToBackground == 1)
        fillArea(d.left, d.top, d.frameWidth, d.frameHeight, hasTransparent == 1 ? transparentIndex : 0);
    decodeImage(d.left, d.top, d.frameWidth, d.frameHeight);
    ++framesRead;
    return 1;
}

void GifImage::decodeImage(std::int32_t left, std::int32_t top, std::int32_t w, std::int32_t h) {
    DecodeWorkspace work;
    if (work.allocate() == 0) {
        showError("Gif decode workspace allocation");
        workspaceMissing = 1;
        return;
    }
    std::int32_t minimumBits = source.readByte();
    if (minimumBits < 2 || minimumBits > 8) {
        showError("Gif decoder");
        return;
    }
    if (w == 0 || h == 0) return;  // an image without pixels has nothing to store

    bool interlaced = (imageDescriptor.frameFlags & interlacedFlag) != 0;
    std::int32_t keepIndex = framesRead > 0 && hasTransparent == 1 ? transparentIndex : -1;
    CodeReader codes(source);
    PixelSink sink(*this, left, top, w, h, interlaced, keepIndex);
    if (decodeThroughTable(codes, minimumBits, work, sink)) showError("Gif decoder");
}
