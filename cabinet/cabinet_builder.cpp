#include "cabinet/cabinet_builder.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "cabinet/cabinet_callbacks.h"
#include "platform/directories.h"
#include "platform/files.h"
#include "platform/library_loader.h"
#include "platform/runtime.h"

CabinetBinding cabinetBinding;

namespace {

constexpr ULONG unlimited = 0x7FFFFFFF;
constexpr USHORT cabinetSetId = 12345;
constexpr TCOMP compressMszip = 1;
constexpr int savedDirectorySize = 256;

template <typename Function>
Function entryPoint(HMODULE library, const char* name) {
    FARPROC address = GetProcAddress(library, name);
    Function function;
    static_assert(sizeof function == sizeof address);
    std::memcpy(&function, &address, sizeof function);
    return function;
}

void releaseLibrary() {
    if (cabinetBinding.library != nullptr) FreeLibrary(cabinetBinding.library);
    cabinetBinding = CabinetBinding{};
}

void copyText(char* errorText, const char* text) {
    std::size_t length = strnlen(text, errorTextSize - 1);
    std::memcpy(errorText, text, length);
    errorText[length] = '\0';
}

// "%s: '%s'"; an entry too long for the buffer is cut at a character
// boundary and marked with "...", so the text stays one well-formed line.
void copyAddFailure(char* errorText, const char* text, const char* entry) {
    std::size_t textLength = std::strlen(text);
    std::size_t entryLength = std::strlen(entry);
    bool cut = textLength + 4 + entryLength > static_cast<std::size_t>(errorTextSize - 1);
    if (cut) {
        entryLength = errorTextSize - 1 - textLength - 4 - 3;
        while (entryLength > 0 && (static_cast<unsigned char>(entry[entryLength]) & 0xC0) == 0x80) --entryLength;
    }
    char* at = errorText;
    auto append = [&at](const char* bytes, std::size_t count) {
        std::memcpy(at, bytes, count);
        at += count;
    };
    append(text, textLength);
    append(": '", 3);
    append(entry, entryLength);
    if (cut) append("...", 3);
    append("'", 2);  // with the terminating zero
}

int fail(const char* call, const ERF& erf, char* errorText) {
    const char* text = cabinetErrorText(erf.erfOper);
    std::printf("%s() failed: code %d [%s]\n", call, erf.erfOper, text);
    copyText(errorText, text);
    return 0;
}

constexpr int cabinetFileError = 6;

// The library writes the cabinet under a fresh name beside the one asked
// for, and it is renamed into place only once it is whole: a full disk or a
// failed build then leaves an existing cabinet exactly as it was, where the
// library alone would delete it with its own partial file.
struct StagedCabinet {
    char target[PATH_MAX];
    char staged[PATH_MAX];

    // Points params at the fresh name; false when none can be had.
    bool stage(CCAB& params) {
        static unsigned long serial = 0;
        std::snprintf(target, sizeof target, "%s%s", params.szCabPath, params.szCab);
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::snprintf(params.szCab, sizeof params.szCab, ".vorn-%ld-%lu.cab", static_cast<long>(getpid()),
                          ++serial);
            std::snprintf(staged, sizeof staged, "%s%s", params.szCabPath, params.szCab);
            if (GetFileAttributesA(staged) == INVALID_FILE_ATTRIBUTES) return true;
        }
        return false;
    }
    // Keeps the old cabinet's permission bits when it replaces one.
    bool place() const {
        bool replaced = GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES &&
                        ReplaceFileA(target, staged, nullptr, 0, nullptr, nullptr);
        return replaced || MoveFileExA(staged, target, MOVEFILE_REPLACE_EXISTING);
    }
    void discard() const {
        if (GetFileAttributesA(staged) != INVALID_FILE_ATTRIBUTES) DeleteFileA(staged);
    }
};

}  // namespace

const char* cabinetErrorText(int code) {
    switch (code) {
        case 0: return "No error";
        case 1: return "Failure opening file to be stored in cabinet";
        case 2: return "Failure reading file to be stored in cabinet";
        case 3: return "Insufficient memory in FCI";
        case 4: return "Could not create a temporary file";
        case 5: return "Unknown compression type";
        case 6: return "Could not create cabinet file";
        case 7: return "Client requested abort";
        case 8: return "Failure compressing data";
        default: return "Unknown error";
    }
}

void initCabinetParams(CCAB* params, const char* cabDirectory, const char* cabName) {
    std::memset(params, 0, sizeof *params);
    params->cb = unlimited;
    params->cbFolderThresh = unlimited;
    params->iCab = 1;
    params->iDisk = 0;
    params->fFailOnIncompressible = 0;
    params->setID = cabinetSetId;
    std::snprintf(params->szCab, sizeof params->szCab, "%s", cabName);
    std::snprintf(params->szCabPath, sizeof params->szCabPath, "%s", cabDirectory);
}

HFCI createCabinetContext(PERF perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna, PFNFCIFREE pfnf,
                          PFNFCIOPEN pfnopen, PFNFCIREAD pfnread, PFNFCIWRITE pfnwrite, PFNFCICLOSE pfnclose,
                          PFNFCISEEK pfnseek, PFNFCIDELETE pfndelete, PFNFCIGETTEMPFILE pfnfcigtf, PCCAB pccab,
                          void* pv) {
    cabinetBinding = CabinetBinding{};
    cabinetBinding.library = LoadLibraryA("CABINET");
    if (cabinetBinding.library == nullptr) return nullptr;
    cabinetBinding.create = entryPoint<FCICreateFunction>(cabinetBinding.library, "FCICreate");
    cabinetBinding.addFile = entryPoint<FCIAddFileFunction>(cabinetBinding.library, "FCIAddFile");
    cabinetBinding.flushCabinet = entryPoint<FCIFlushCabinetFunction>(cabinetBinding.library, "FCIFlushCabinet");
    cabinetBinding.flushFolder = entryPoint<FCIFlushFolderFunction>(cabinetBinding.library, "FCIFlushFolder");
    cabinetBinding.destroy = entryPoint<FCIDestroyFunction>(cabinetBinding.library, "FCIDestroy");
    if (cabinetBinding.create == nullptr || cabinetBinding.addFile == nullptr ||
        cabinetBinding.flushCabinet == nullptr || cabinetBinding.destroy == nullptr) {
        releaseLibrary();
        return nullptr;
    }
    HFCI context = cabinetBinding.create(perf, pfnfcifp, pfna, pfnf, pfnopen, pfnread, pfnwrite, pfnclose, pfnseek,
                                         pfndelete, pfnfcigtf, pccab, pv);
    if (context == nullptr) releaseLibrary();
    return context;
}

BOOL destroyCabinetContext(HFCI context) {
    if (cabinetBinding.destroy == nullptr) return 0;
    BOOL result = cabinetBinding.destroy(context);
    if (result == 1) releaseLibrary();
    return result;
}

namespace {

int buildStaged(std::int32_t count, char** entries, CCAB& params, char* errorText) {
    ERF erf{libraryUnavailableCode, 0, 1};
    HFCI context = createCabinetContext(&erf, cabFilePlaced, cabAlloc, cabFree, cabOpen, cabRead, cabWrite, cabClose,
                                        cabSeek, cabDelete, cabGetTempFile, &params, nullptr);
    if (context == nullptr) return fail("FCICreate", erf, errorText);

    for (std::int32_t i = 0; i < count; ++i) {
        char* entry = entries[i];
        if (std::strcmp(entry, "+") == 0) {
            if (cabinetBinding.flushFolder == nullptr ||
                !cabinetBinding.flushFolder(context, cabGetNextCabinet, cabStatus)) {
                fail("FCIFlushFolder", erf, errorText);
                destroyCabinetContext(context);
                return 0;
            }
        } else if (!cabinetBinding.addFile(context, entry, entry, 0, cabGetNextCabinet, cabStatus, cabGetOpenInfo,
                                           compressMszip)) {
            fail("FCIAddFile", erf, errorText);
            copyAddFailure(errorText, cabinetErrorText(erf.erfOper), entry);
            destroyCabinetContext(context);
            return 0;
        }
    }
    if (!cabinetBinding.flushCabinet(context, 0, cabGetNextCabinet, cabStatus)) {
        fail("FCIFlushCabinet", erf, errorText);
        destroyCabinetContext(context);
        return 0;
    }
    if (destroyCabinetContext(context) != 1) return fail("FCIDestroy", erf, errorText);
    return 1;
}

}  // namespace

int buildCabinet(std::int32_t count, char** entries, const char* cabDirectory, const char* cabName,
                 char* errorText) {
    CCAB params;
    initCabinetParams(&params, cabDirectory, cabName);
    StagedCabinet cabinet;
    const ERF placing{cabinetFileError, 0, 1};
    if (!cabinet.stage(params)) return fail("FCIFlushCabinet", placing, errorText);
    int built = buildStaged(count, entries, params, errorText);
    if (built == 1 && !cabinet.place()) built = fail("FCIFlushCabinet", placing, errorText);
    if (built != 1) cabinet.discard();
    return built;
}

int buildCabinetInDirectory(std::int32_t count, char** entries, const char* cabDirectory, const char* cabName,
                            char* errorText) {
    // A current directory longer than the usual buffer is saved in a block
    // of its own size, so it can be restored all the same.
    char saved[savedDirectorySize];
    char* previous = saved;
    DWORD length = GetCurrentDirectoryA(sizeof saved, saved);
    if (length >= sizeof saved) {
        previous = static_cast<char*>(crt::malloc(length));
        if (previous != nullptr && GetCurrentDirectoryA(length, previous) >= length) {
            crt::free(previous);
            previous = nullptr;
        }
    } else if (length == 0) {
        previous = nullptr;  // the current directory is gone: there is nothing to go back to
    }
    // The cabinet's path is taken after the change of directory; a relative
    // cabinet directory is therefore anchored at the directory it was meant
    // from, so that "out/" still means the out/ the caller saw.
    char anchored[savedDirectorySize];
    const char* cabPath = cabDirectory;
    if (cabDirectory[0] != '/' && previous != nullptr) {
        std::size_t base = std::strlen(previous);
        std::size_t rest = std::strlen(cabDirectory);
        if (base + 1 + rest < sizeof anchored) {
            std::memcpy(anchored, previous, base);
            anchored[base] = '/';
            std::memcpy(anchored + base + 1, cabDirectory, rest + 1);
            cabPath = anchored;
        }
    }
    BOOL moved = SetCurrentDirectoryA(cabDirectory);
    // Too long to anchor, the relative path would be taken a second time from
    // inside itself. A directory ending in a slash is the current directory
    // now, and the cabinet is found from there.
    std::size_t directoryLength = std::strlen(cabDirectory);
    if (cabPath == cabDirectory && cabDirectory[0] != '/' && moved && directoryLength > 0 &&
        cabDirectory[directoryLength - 1] == '/')
        cabPath = "";
    int result = buildCabinet(count, entries, cabPath, cabName, errorText);
    if (previous != nullptr) SetCurrentDirectoryA(previous);
    if (previous != nullptr && previous != saved) crt::free(previous);
    return result;
}
