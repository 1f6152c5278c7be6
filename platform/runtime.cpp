#include "platform/runtime.h"

#include <cstdlib>

#include "platform/fault.h"

namespace crt {

void* malloc(std::size_t bytes) {
    if (fault::shouldFail(fault::Kind::Alloc)) return nullptr;
    return std::malloc(bytes);
}

void* calloc(std::size_t count, std::size_t bytes) {
    if (fault::shouldFail(fault::Kind::Alloc)) return nullptr;
    return std::calloc(count, bytes);
}

void* realloc(void* block, std::size_t bytes) {
    if (fault::shouldFail(fault::Kind::Alloc)) return nullptr;
    return std::realloc(block, bytes);
}

void free(void* block) { std::free(block); }

}  // namespace crt
