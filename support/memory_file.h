// A whole file held in one block and read through a cursor.
//
// The block holds size + 1 bytes, the last one 0. No operation ever reads or
// hands out memory outside the data: once the cursor has reached the end,
// readByte yields 0, readInto fills with zeros, and skip returns null for a
// run that does not lie wholly inside the data. Every operation still adds
// what it was asked for to consumed, so a caller that compares consumed with
// size sees that it went past the end. The cursor itself never leaves the
// block: it stops at the terminating zero.
#pragma once

#include <climits>
#include <cstdint>

class MemoryFile {
public:
    std::uint8_t* base = nullptr;
    std::uint8_t* cursor = nullptr;
    std::int32_t size = 0;
    std::int32_t consumed = 0;

    MemoryFile() = default;
    ~MemoryFile() { release(); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    // Loads the file; returns base, null on failure.
    std::uint8_t* load(const char* path);

    std::uint8_t readByte() {
        count(1);
        if (remaining() == 0) return 0;
        return *cursor++;
    }

    // The address of the next n bytes, which the cursor then passes over;
    // null when fewer than n bytes remain (the cursor then stops at the end).
    const std::uint8_t* skip(std::int32_t n);

    // Copies n bytes; what lies past the data arrives as zeros. Returns n.
    std::int32_t readInto(void* buffer, std::int32_t n);

    // Frees the block; a second release is harmless.
    void release();

    // Bytes left between the cursor and the end of the data.
    std::int32_t remaining() const { return base == nullptr ? 0 : static_cast<std::int32_t>(base + size - cursor); }

private:
    // consumed saturates rather than wrap, however far past the end a caller goes.
    void count(std::int32_t n) { consumed = consumed > INT32_MAX - n ? INT32_MAX : consumed + n; }
};
