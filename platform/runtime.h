// The run-time library's heap, under its own names in namespace crt so that
// tests can make any allocation fail.
#pragma once

#include <cstddef>

namespace crt {

void* malloc(std::size_t bytes);
void* calloc(std::size_t count, std::size_t bytes);
void* realloc(void* block, std::size_t bytes);
void free(void* block);

}  // namespace crt
