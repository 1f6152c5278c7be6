#include "support/memory.h"

#include <cstring>

#include "platform/global_memory.h"
#include "platform/runtime.h"
#include "support/errors.h"

namespace {
const char outOfMemory[] = "Sorry, not enough memory";
}

void* allocBlock(std::uint32_t bytes, std::uint32_t flags) {
    HGLOBAL handle = GlobalAlloc(flags & 0xFFFF, bytes);
    void* block = handle != nullptr ? GlobalLock(handle) : nullptr;
    if (block == nullptr) {
        if (handle != nullptr) GlobalFree(handle);
        showError(outOfMemory);
    }
    return block;
}

void freeBlock(void* block) {
    if (block == nullptr) return;
    HGLOBAL handle = GlobalHandle(block);
    GlobalUnlock(handle);
    GlobalFree(handle);
}

void* allocZeroed(std::uint32_t bytes) {
    void* block = crt::calloc(1, bytes != 0 ? bytes : 1);
    if (block == nullptr) showError(outOfMemory);
    return block;
}

void* resizeBlock(void* block, std::uint32_t bytes) {
    if (block == nullptr) return allocZeroed(bytes);
    void* resized = crt::realloc(block, bytes != 0 ? bytes : 1);
    if (resized == nullptr) showError(outOfMemory);
    return resized;
}

void freeIfSet(void* block) {
    if (block != nullptr) crt::free(block);
}
