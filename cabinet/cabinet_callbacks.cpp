#include "cabinet/cabinet_callbacks.h"

#include <cerrno>
#include <cstring>

#include "platform/file_information.h"
#include "platform/files.h"
#include "platform/low_level_files.h"
#include "platform/runtime.h"

namespace {

constexpr DWORD openInfoFlags = 0x08000080;  // FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN
constexpr int readOnlyBinary = 0x8000;       // _O_RDONLY | _O_BINARY
constexpr DWORD attributeMask = 0x27;        // read-only, hidden, system, archive

}  // namespace

int cabNotify(PCCAB, char*, long, BOOL, void*) { return 0; }

long cabNotify(UINT, ULONG, ULONG, void*) { return 0; }

void* cabAlloc(ULONG cb) { return crt::malloc(cb); }

void cabFree(void* memory) { crt::free(memory); }

INT_PTR cabOpen(char* pszFile, int oflag, int pmode, int* err, void*) {
    int fd = crt::_open(pszFile, oflag, pmode);
    if (fd == -1) *err = errno;
    return fd;
}

UINT cabRead(INT_PTR hf, void* memory, UINT cb, int* err, void*) {
    int result = crt::_read(static_cast<int>(hf), memory, cb);
    if (static_cast<UINT>(result) != cb) *err = errno;
    return static_cast<UINT>(result);
}

UINT cabWrite(INT_PTR hf, void* memory, UINT cb, int* err, void*) {
    int result = crt::_write(static_cast<int>(hf), memory, cb);
    if (static_cast<UINT>(result) != cb) *err = errno;
    return static_cast<UINT>(result);
}

int cabClose(INT_PTR hf, int* err, void*) {
    int result = crt::_close(static_cast<int>(hf));
    if (result != 0) *err = errno;
    return result;
}

long cabSeek(INT_PTR hf, long dist, int seektype, int* err, void*) {
    long result = crt::_lseek(static_cast<int>(hf), dist, seektype);
    if (result == -1) *err = errno;
    return result;
}

int cabDelete(char* pszFile, int* err, void*) {
    int result = crt::remove(pszFile);
    if (result != 0) *err = errno;
    return result;
}

BOOL cabGetTempFile(char* pszTempName, int cbTempName, void*) {
    char* name = crt::_tempnam("", "xx");
    if (name == nullptr) return 0;
    BOOL fits = cbTempName > 0 && std::strlen(name) < static_cast<std::size_t>(cbTempName);
    if (fits) std::memcpy(pszTempName, name, std::strlen(name) + 1);
    crt::free(name);
    return fits;
}

BOOL cabGetNextCabinet(PCCAB, ULONG, void*) { return 1; }

INT_PTR cabGetOpenInfo(char* pszName, USHORT* pdate, USHORT* ptime, USHORT* pattribs, int* err, void*) {
    HANDLE file = CreateFileA(pszName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, openInfoFlags, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *err = errno;
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) {
        *err = errno;
        CloseHandle(file);
        return -1;
    }
    FILETIME local = information.ftLastWriteTime;
    FileTimeToLocalFileTime(&information.ftLastWriteTime, &local);
    FileTimeToDosDateTime(&local, pdate, ptime);
    DWORD attributes = GetFileAttributesA(pszName);
    *pattribs = attributes == INVALID_FILE_ATTRIBUTES ? 0 : static_cast<USHORT>(attributes & attributeMask);
    CloseHandle(file);
    int fd = crt::_open(pszName, readOnlyBinary);
    if (fd == -1) *err = errno;
    return fd;
}
