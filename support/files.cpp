#include "support/files.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unistd.h>

#include "platform/files.h"
#include "support/errors.h"
#include "support/memory.h"

namespace {

constexpr std::int32_t bufferBytes = 65536;
constexpr std::int32_t directThreshold = 4096;  // larger counts bypass the buffer
constexpr int slotCount = 8;                    // a call has at most two files open at once

// The buffering and replacement state of one open file. Fixed slots: no
// allocation, so opening a file has no memory failure of its own.
struct FileState {
    HANDLE handle = nullptr;  // null: the slot is free
    bool writing = false;
    bool replacing = false;  // the data goes to temp, which replaces target at close
    bool targetExisted = false;
    bool failed = false;
    char target[PATH_MAX];
    char temp[PATH_MAX];
    std::int32_t begin = 0;  // reading: next buffered byte
    std::int32_t end = 0;    // bytes in the buffer
    std::uint8_t buffer[bufferBytes];
};

FileState slots[slotCount];
std::mutex slotsLock;

FileState* claimSlot(HANDLE handle) {
    std::lock_guard<std::mutex> guard(slotsLock);
    for (FileState& state : slots) {
        if (state.handle == nullptr) {
            state.handle = handle;
            state.writing = state.replacing = state.targetExisted = state.failed = false;
            state.target[0] = state.temp[0] = '\0';
            state.begin = state.end = 0;
            return &state;
        }
    }
    return nullptr;
}

FileState* stateOf(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    std::lock_guard<std::mutex> guard(slotsLock);
    for (FileState& state : slots)
        if (state.handle == handle) return &state;
    return nullptr;
}

void freeSlot(FileState* state) {
    std::lock_guard<std::mutex> guard(slotsLock);
    state->handle = nullptr;
}

std::int32_t platformRead(HANDLE file, void* buffer, std::int32_t count) {
    DWORD read = 0;
    if (!ReadFile(file, buffer, static_cast<DWORD>(count), &read, nullptr)) {
        showError("Cannot read file");
        return -1;
    }
    return static_cast<std::int32_t>(read);
}

// Writes through to the platform; the first failure on a tracked file is
// shown once and remembered.
bool platformWrite(HANDLE file, FileState* state, const void* buffer, std::int32_t count) {
    DWORD written = 0;
    if (WriteFile(file, buffer, static_cast<DWORD>(count), &written, nullptr) &&
        written == static_cast<DWORD>(count))
        return true;
    if (state == nullptr || !state->failed) showError("Cannot write file");
    if (state != nullptr) state->failed = true;
    return false;
}

bool flushWrites(FileState* state) {
    if (state->failed) return false;
    std::int32_t pending = state->end;
    state->end = 0;
    return pending == 0 || platformWrite(state->handle, state, state->buffer, pending);
}

bool copyPath(char (&to)[PATH_MAX], const char* from) {
    std::size_t length = std::strlen(from);
    if (length >= PATH_MAX) return false;
    std::memcpy(to, from, length + 1);
    return true;
}

// A fresh name in the target's directory, so that the final rename stays on
// one file system.
HANDLE createBeside(const char* target, char (&temp)[PATH_MAX]) {
    static unsigned long serial = 0;
    const char* slash = std::strrchr(target, '/');
    int directoryLength = slash != nullptr ? static_cast<int>(slash - target + 1) : 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        int length = std::snprintf(temp, sizeof temp, "%.*s.vorn-%ld-%lu.tmp", directoryLength, target,
                                   static_cast<long>(getpid()), ++serial);
        if (length < 0 || length >= static_cast<int>(sizeof temp)) return INVALID_HANDLE_VALUE;
        HANDLE file = CreateFileA(temp, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        if (GetFileAttributesA(temp) == INVALID_FILE_ATTRIBUTES) break;  // not a name clash
    }
    return INVALID_HANDLE_VALUE;
}

HANDLE createFailed(const char* path, int trace) {
    if (trace) {
        traceMessage("Cannot create file: ");
        traceMessage(path);
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

HANDLE openForReading(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        traceMessage("File not found: ");
        traceMessage(path);
        return file;
    }
    claimSlot(file);  // without a slot the file is simply read unbuffered
    return file;
}

HANDLE openWithSize(const char* path, std::int32_t* size) {
    HANDLE file = openForReading(path);
    *size = file == INVALID_HANDLE_VALUE ? 0 : static_cast<std::int32_t>(fileSize(file));
    return file;
}

std::uint32_t fileSize(HANDLE file) { return GetFileSize(file, nullptr); }

HANDLE createForWriting(const char* path, int trace) {
    if (path == nullptr || path[0] == '\0') return createFailed(path, trace);
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return createFailed(path, trace);

    bool direct = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DEVICE);
    char temp[PATH_MAX];
    HANDLE file = direct ? CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr)
                         : createBeside(path, temp);
    if (file == INVALID_HANDLE_VALUE) return createFailed(path, trace);

    FileState* state = claimSlot(file);
    if (state == nullptr || !copyPath(state->target, path) || (!direct && !copyPath(state->temp, temp))) {
        if (state != nullptr) freeSlot(state);
        CloseHandle(file);
        if (!direct) DeleteFileA(temp);
        return createFailed(path, trace);
    }
    state->writing = true;
    state->replacing = !direct;
    state->targetExisted = attributes != INVALID_FILE_ATTRIBUTES;
    return file;
}

int closeFile(HANDLE file) {
    if (file == nullptr || file == INVALID_HANDLE_VALUE) return 0;
    FileState* state = stateOf(file);
    if (state == nullptr || !state->writing) {
        if (state != nullptr) freeSlot(state);
        CloseHandle(file);
        return 1;
    }
    bool whole = flushWrites(state);
    if (!CloseHandle(file) && whole) {
        showError("Cannot write file");
        whole = false;
    }
    if (state->replacing) {
        bool placed = whole && (state->targetExisted
                                    ? ReplaceFileA(state->target, state->temp, nullptr, 0, nullptr, nullptr) ||
                                          MoveFileExA(state->temp, state->target, MOVEFILE_REPLACE_EXISTING)
                                    : MoveFileExA(state->temp, state->target, MOVEFILE_REPLACE_EXISTING));
        if (whole && !placed) showError("Cannot write file");
        if (!placed) DeleteFileA(state->temp);
        whole = placed;
    }
    freeSlot(state);
    return whole ? 1 : 0;
}

void discardFile(HANDLE file) {
    FileState* state = stateOf(file);
    if (state != nullptr && state->writing) {
        state->failed = true;  // nothing buffered goes out
        state->end = 0;
    }
    if (state != nullptr && state->writing && !state->replacing) {
        freeSlot(state);
        CloseHandle(file);
        return;
    }
    closeFile(file);
}

std::int32_t readBytes(HANDLE file, void* buffer, std::int32_t count) {
    if (count <= 0) return 0;
    FileState* state = stateOf(file);
    if (state == nullptr || state->writing) return platformRead(file, buffer, count);
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::int32_t done = 0;
    while (done < count) {
        if (state->begin == state->end) {
            if (count - done >= bufferBytes) {  // a large read goes straight into the caller's block
                std::int32_t got = platformRead(file, out + done, count - done);
                if (got < 0) return done > 0 ? done : -1;
                return done + got;
            }
            std::int32_t got = platformRead(file, state->buffer, bufferBytes);
            if (got < 0) return done > 0 ? done : -1;
            if (got == 0) break;
            state->begin = 0;
            state->end = got;
        }
        std::int32_t take = state->end - state->begin;
        if (take > count - done) take = count - done;
        std::memcpy(out + done, state->buffer + state->begin, static_cast<std::size_t>(take));
        state->begin += take;
        done += take;
    }
    return done;
}

std::int32_t writeBytes(HANDLE file, const void* buffer, std::int32_t count) {
    if (count < 0) return -1;
    FileState* state = stateOf(file);
    if (state == nullptr || !state->writing)
        return count == 0 || platformWrite(file, nullptr, buffer, count) ? count : -1;
    if (state->failed) return -1;
    if (count == 0) return 0;
    if (count >= directThreshold || count > bufferBytes - state->end) {
        if (!flushWrites(state)) return -1;
    }
    if (count >= directThreshold) return platformWrite(file, state, buffer, count) ? count : -1;
    std::memcpy(state->buffer + state->end, buffer, static_cast<std::size_t>(count));
    state->end += count;
    return count;
}

std::int32_t writeLong(HANDLE file, std::uint32_t value) { return writeBytes(file, &value, 4); }

std::int32_t writeByte(HANDLE file, int value) {
    auto byte = static_cast<std::uint8_t>(value);
    return writeBytes(file, &byte, 1);
}

std::uint8_t* loadWholeFile(const char* path, std::int32_t* size) {
    HANDLE file = openWithSize(path, size);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    DWORD high = 0;
    GetFileSize(file, &high);
    if (high != 0 || *size < 0 || *size == INT32_MAX) {  // a block's size must fit 32 bits
        showError("Sorry, not enough memory");
        closeFile(file);
        *size = 0;
        return nullptr;
    }
    auto* block = static_cast<std::uint8_t*>(allocBlock(static_cast<std::uint32_t>(*size) + 1, blockMovable));
    if (block == nullptr) {
        closeFile(file);
        *size = 0;
        return nullptr;
    }
    std::int32_t got = readBytes(file, block, *size);
    *size = got > 0 ? got : 0;
    block[*size] = 0;
    closeFile(file);
    return block;
}

std::uint32_t swapBytes32(std::uint32_t value) {
    return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}
