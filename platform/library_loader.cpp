#include "platform/library_loader.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <initializer_list>

namespace {

HMODULE openPath(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

// The folder of the object this function was linked into, with its '/'.
bool ownFolder(char* folder, std::size_t size) {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&ownFolder), &info) == 0 || info.dli_fname == nullptr) return false;
    const char* slash = std::strrchr(info.dli_fname, '/');
    if (slash == nullptr) return false;
    auto length = static_cast<std::size_t>(slash - info.dli_fname) + 1;
    if (length >= size) return false;
    std::memcpy(folder, info.dli_fname, length);
    folder[length] = '\0';
    return true;
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR name) {
    if (name == nullptr || *name == '\0') return nullptr;
    if (std::strchr(name, '/') != nullptr) return openPath(name);
    char path[4096];
    char folder[4096];
    if (ownFolder(folder, sizeof folder)) {
        for (const char* prefix : {"lib", ""}) {
            int length = std::snprintf(path, sizeof path, "%s%s%s.so", folder, prefix, name);
            if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) continue;
            if (HMODULE module = openPath(path)) return module;
        }
    }
    int length = std::snprintf(path, sizeof path, "lib%s.so", name);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) return nullptr;
    return openPath(path);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (module == nullptr || name == nullptr) return nullptr;
    void* address = dlsym(module, name);
    FARPROC result;
    static_assert(sizeof result == sizeof address);
    std::memcpy(&result, &address, sizeof result);
    return result;
}

BOOL FreeLibrary(HMODULE module) { return module != nullptr && dlclose(module) == 0; }
