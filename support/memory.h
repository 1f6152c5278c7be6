// Memory blocks of two families; a block is freed by its own family.
#pragma once

#include <cstdint>

// Global memory, allocated and locked at once. Flags: 0x0002 movable,
// 0x0040 zero-initialised, 0x2000 shared; only the low 16 bits are passed on.
// Null (after "Sorry, not enough memory") on failure, and for 0 bytes, which
// cannot be locked.
void* allocBlock(std::uint32_t bytes, std::uint32_t flags);
void freeBlock(void* block);

// The run-time library's heap.
void* allocZeroed(std::uint32_t bytes);
// Keeps the contents up to the smaller size; added bytes are not cleared. On
// failure the old block stays as it was.
void* resizeBlock(void* block, std::uint32_t bytes);
void freeIfSet(void* block);

constexpr std::uint32_t blockMovable = 0x0002;
constexpr std::uint32_t blockMovableZeroed = 0x0042;
constexpr std::uint32_t blockMovableShared = 0x2002;
