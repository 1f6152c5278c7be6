// Libraries loaded at run time, over the dynamic loader.
#pragma once

#include "platform/win_types.h"

using FARPROC = void (*)();

// A bare name (no '/') is looked for first beside the object that holds this
// code (libVornNative.so, or a program linked with it statically) as
// "lib<name>.so", then "<name>.so", then by the loader's own search as
// "lib<name>.so". A name with a '/' is loaded as it stands. Null on failure.
HMODULE LoadLibraryA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
