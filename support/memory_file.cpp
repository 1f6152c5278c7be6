#include "support/memory_file.h"

#include <cstring>

#include "support/files.h"
#include "support/memory.h"

std::uint8_t* MemoryFile::load(const char* path) {
    release();
    base = loadWholeFile(path, &size);
    if (base == nullptr) size = 0;
    cursor = base;
    consumed = 0;
    return base;
}

const std::uint8_t* MemoryFile::skip(std::int32_t n) {
    if (n <= 0) return cursor;
    count(n);
    std::uint8_t* from = cursor;
    if (n > remaining()) {
        if (base != nullptr) cursor = base + size;
        return nullptr;
    }
    cursor += n;
    return from;
}

std::int32_t MemoryFile::readInto(void* buffer, std::int32_t n) {
    if (n <= 0) return 0;
    std::int32_t available = remaining();
    std::int32_t take = n < available ? n : available;
    if (take > 0) std::memcpy(buffer, cursor, static_cast<std::size_t>(take));
    std::memset(static_cast<std::uint8_t*>(buffer) + take, 0, static_cast<std::size_t>(n - take));
    if (take > 0) cursor += take;
    count(n);
    return n;
}

void MemoryFile::release() {
    freeBlock(base);
    base = nullptr;
    cursor = nullptr;  // nothing may read through it once the block is gone
}
