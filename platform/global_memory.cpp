#include "platform/global_memory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

#include "platform/fault.h"

namespace {

constexpr std::uint32_t blockMagic = 0x474D454Du;  // "GMEM"

// Kept in front of the data so that GlobalHandle can find it from an address.
struct alignas(16) BlockHeader {
    std::uint32_t magic;
    UINT flags;
    SIZE_T bytes;
    long locks;
};

BlockHeader* headerOf(HGLOBAL block) {
    auto* header = static_cast<BlockHeader*>(block);
    return header != nullptr && header->magic == blockMagic ? header : nullptr;
}

// A block of many megabytes (a picture's pixels) is fresh memory that its
// first writer touches page by page; large pages make that far cheaper.
void adviseLargePages(void* raw, SIZE_T bytes) {
#ifdef MADV_HUGEPAGE
    constexpr SIZE_T largeBlock = SIZE_T(4) << 20;
    constexpr std::uintptr_t page = 4096;
    if (bytes < largeBlock) return;
    std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(raw) + page - 1) & ~(page - 1);
    std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(raw) + bytes) & ~(page - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);  // only a hint
#else
    (void)raw;
    (void)bytes;
#endif
}

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    if (fault::shouldFail(fault::Kind::Alloc)) return nullptr;
    if (bytes > SIZE_T(-1) - sizeof(BlockHeader)) return nullptr;
    void* raw = (flags & GMEM_ZEROINIT) ? std::calloc(1, sizeof(BlockHeader) + bytes)
                                        : std::malloc(sizeof(BlockHeader) + bytes);
    if (raw == nullptr) return nullptr;
    adviseLargePages(raw, sizeof(BlockHeader) + bytes);
    auto* header = static_cast<BlockHeader*>(raw);
    header->magic = blockMagic;
    header->flags = flags;
    header->bytes = bytes;
    header->locks = 0;
    return header;
}

void* GlobalLock(HGLOBAL block) {
    BlockHeader* header = headerOf(block);
    if (header == nullptr || header->bytes == 0) return nullptr;
    ++header->locks;
    return header + 1;
}

BOOL GlobalUnlock(HGLOBAL block) {
    BlockHeader* header = headerOf(block);
    if (header == nullptr || header->locks == 0) return 0;
    return --header->locks != 0;
}

HGLOBAL GlobalHandle(const void* address) {
    if (address == nullptr) return nullptr;
    auto* header = static_cast<BlockHeader*>(const_cast<void*>(address)) - 1;
    return headerOf(header);
}

HGLOBAL GlobalFree(HGLOBAL block) {
    BlockHeader* header = headerOf(block);
    if (header == nullptr) return block;
    header->magic = 0;
    std::free(header);
    return nullptr;
}

SIZE_T GlobalSize(HGLOBAL block) {
    BlockHeader* header = headerOf(block);
    return header == nullptr ? 0 : header->bytes;
}
