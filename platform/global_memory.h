// Global memory: blocks with allocation flags, addressed through a lock.
// Of the flags only GMEM_ZEROINIT changes what a caller sees. As on the
// original platform, a block of 0 bytes exists but cannot be locked.
#pragma once

#include "platform/win_types.h"

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
void* GlobalLock(HGLOBAL block);
BOOL GlobalUnlock(HGLOBAL block);
HGLOBAL GlobalHandle(const void* address);
HGLOBAL GlobalFree(HGLOBAL block);  // null on success, as the original
SIZE_T GlobalSize(HGLOBAL block);
