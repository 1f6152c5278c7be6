// Packs a list of files into one cabinet through the cabinet library's File
// Compression Interface, bound at run time from the library "CABINET". An
// entry that is exactly "+" closes the current folder. Each failed library
// call prints one line on standard output and leaves a text in the caller's
// error-text buffer.
#pragma once

#include <cstdint>

#include "platform/cabinet_library/fci.h"
#include "platform/win_types.h"

constexpr int errorTextSize = 256;

// The library's handle and entry points; filled anew by every build.
struct CabinetBinding {
    HMODULE library = nullptr;
    FCICreateFunction create = nullptr;
    FCIAddFileFunction addFile = nullptr;
    FCIFlushCabinetFunction flushCabinet = nullptr;
    FCIFlushFolderFunction flushFolder = nullptr;
    FCIDestroyFunction destroy = nullptr;
};

extern CabinetBinding cabinetBinding;

// The error code put in the error record when the library cannot be loaded
// or lacks an entry point: FCICreate has not run, so nothing else would fill
// it. It prints as "Unknown error".
constexpr int libraryUnavailableCode = -1;

// 1 when the cabinet was completed and the library released, 0 otherwise.
// The names are zero-terminated, at most 255 bytes; errorText has
// errorTextSize bytes.
int buildCabinet(std::int32_t count, char** entries, const char* cabDirectory, const char* cabName,
                 char* errorText);
void initCabinetParams(CCAB* params, const char* cabDirectory, const char* cabName);
HFCI createCabinetContext(PERF perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna, PFNFCIFREE pfnf,
                          PFNFCIOPEN pfnopen, PFNFCIREAD pfnread, PFNFCIWRITE pfnwrite, PFNFCICLOSE pfnclose,
                          PFNFCISEEK pfnseek, PFNFCIDELETE pfndelete, PFNFCIGETTEMPFILE pfnfcigtf, PCCAB pccab,
                          void* pv);
// FCIDestroy's result; when it is 1 the library is released too.
BOOL destroyCabinetContext(HFCI context);
const char* cabinetErrorText(int code);

// The whole makeCab flow: makes the cabinet directory current (so relative
// entries are read and stored relative to it), builds, and restores the
// current directory whatever happened. The build's result.
int buildCabinetInDirectory(std::int32_t count, char** entries, const char* cabDirectory, const char* cabName,
                            char* errorText);
