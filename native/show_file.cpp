#include <cstdint>
#include <cstdio>

#include "native/VornNative.h"
#include "native/conversion.h"
#include "platform/directories.h"
#include "platform/runtime.h"
#include "platform/shell.h"

namespace {

constexpr int programPathSize = 512;
constexpr int commandLineSize = 1024;
constexpr DWORD directorySize = 256;

bool succeeded(HINSTANCE result) { return reinterpret_cast<std::intptr_t>(result) > 32; }

// The current directory, whatever its length: the fixed buffer when it
// fits, a heap block sized from what GetCurrentDirectoryA asks for when not.
class SavedDirectory {
public:
    SavedDirectory() {
        DWORD length = GetCurrentDirectoryA(directorySize, fixed);
        if (length == 0) return;
        if (length < directorySize) {
            path = fixed;
            return;
        }
        large = static_cast<char*>(crt::malloc(length));
        if (large != nullptr && GetCurrentDirectoryA(length, large) < length) path = large;
    }
    ~SavedDirectory() { crt::free(large); }
    SavedDirectory(const SavedDirectory&) = delete;
    SavedDirectory& operator=(const SavedDirectory&) = delete;
    const char* get() const { return path; }

private:
    char fixed[directorySize];
    char* large = nullptr;
    const char* path = nullptr;
};

}  // namespace

VORN_EXPORT std::int32_t VornNative_showFile(vm::Handle, vm::Handle directoryString, vm::Handle fileString) {
    NameBuffer directory;
    NameBuffer file;
    if (!convertName(directoryString, directory)) return 0;
    if (!convertName(fileString, file)) return 0;

    if (directory[0] == '\0') return succeeded(ShellExecuteA(nullptr, nullptr, file, nullptr, directory, SW_SHOWNORMAL));

    char program[programPathSize];
    // No association: nothing is started.
    if (!succeeded(FindExecutableA(file, directory, program))) return 0;
    char commandLine[commandLineSize];
    std::snprintf(commandLine, sizeof commandLine, "%s %s", program, file);

    char windowsDirectory[directorySize];
    UINT windowsLength = GetWindowsDirectoryA(windowsDirectory, directorySize);
    SavedDirectory saved;
    // A directory that could not be saved could not be restored: the program
    // then starts where the caller is, and the caller stays there.
    bool moved = windowsLength > 0 && windowsLength < directorySize && saved.get() != nullptr &&
                 SetCurrentDirectoryA(windowsDirectory);
    UINT result = WinExec(commandLine, SW_SHOWNORMAL);
    if (moved) SetCurrentDirectoryA(saved.get());
    return result > 31 ? 1 : 0;
}
