// The process's current directory.
#pragma once

#include "platform/win_types.h"

// Copies the current directory into the buffer and returns its length. When
// the buffer is too small, returns the size needed (zero included) and leaves
// the buffer as it was; 0 on failure.
DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);
BOOL SetCurrentDirectoryA(LPCSTR path);
