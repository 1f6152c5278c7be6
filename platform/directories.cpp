#include "platform/directories.h"

#include <climits>
#include <cstring>
#include <unistd.h>

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
    char path[PATH_MAX];
    if (getcwd(path, sizeof path) == nullptr) return 0;
    DWORD length = static_cast<DWORD>(std::strlen(path));
    if (buffer == nullptr || size <= length) return length + 1;
    std::memcpy(buffer, path, length + 1);
    return length;
}

BOOL SetCurrentDirectoryA(LPCSTR path) { return path != nullptr && chdir(path) == 0; }
