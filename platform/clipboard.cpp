#include "platform/clipboard.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/global_memory.h"
#include "platform/process_start.h"

namespace {

constexpr int formatSlots = 16;
constexpr int handOffTimeoutMs = 5000;

struct Entry {
    UINT format;
    HGLOBAL block;
};

struct Clipboard {
    bool open = false;
    HWND openedBy = nullptr;
    bool otherOwnerHolds = false;
    HWND owner = nullptr;
    bool textChanged = false;
    Entry entries[formatSlots] = {};
};

Clipboard clipboard;

// Stands for the program's main window; its address is its handle.
char activeWindow;

Entry* entryFor(UINT format) {
    for (Entry& entry : clipboard.entries)
        if (entry.block != nullptr && entry.format == format) return &entry;
    return nullptr;
}

Entry* freeEntry() {
    for (Entry& entry : clipboard.entries)
        if (entry.block == nullptr) return &entry;
    return nullptr;
}

bool present(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

// The desktop's own tool for its clipboard, with its arguments.
std::vector<std::string> desktopTool() {
    if (present("WAYLAND_DISPLAY")) {
        std::string tool = process::findProgram("wl-copy");
        if (!tool.empty()) return {tool, "--type", "text/plain;charset=utf-8"};
    }
    if (present("DISPLAY")) {
        std::string tool = process::findProgram("xclip");
        if (!tool.empty()) return {tool, "-selection", "clipboard", "-in"};
        tool = process::findProgram("xsel");
        if (!tool.empty()) return {tool, "--clipboard", "--input"};
    }
    return {};
}

void handTextToDesktop(HGLOBAL block) {
    std::vector<std::string> tool = desktopTool();
    if (tool.empty()) return;
    if (fault::shouldFail(fault::Kind::Open)) return;
    const char* text = static_cast<const char*>(GlobalLock(block));
    if (text == nullptr) return;
    std::size_t length = strnlen(text, GlobalSize(block));
    process::runWithInput(tool[0], tool, text, length, handOffTimeoutMs);
    GlobalUnlock(block);
}

}  // namespace

HWND GetActiveWindow() { return &activeWindow; }

BOOL OpenClipboard(HWND owner) {
    if (clipboard.otherOwnerHolds) return 0;
    if (clipboard.open && clipboard.openedBy != owner) return 0;
    if (fault::shouldFail(fault::Kind::Open)) return 0;
    clipboard.open = true;
    clipboard.openedBy = owner;
    return 1;
}

BOOL EmptyClipboard() {
    if (!clipboard.open) return 0;
    for (Entry& entry : clipboard.entries) {
        if (entry.block != nullptr) GlobalFree(entry.block);
        entry = Entry{};
    }
    clipboard.owner = clipboard.openedBy;
    clipboard.textChanged = false;
    return 1;
}

HANDLE SetClipboardData(UINT format, HANDLE data) {
    if (!clipboard.open || clipboard.openedBy == nullptr || clipboard.owner != clipboard.openedBy) return nullptr;
    if (data == nullptr || GlobalSize(data) == 0) return nullptr;
    Entry* entry = entryFor(format);
    if (entry == nullptr) entry = freeEntry();
    if (entry == nullptr) return nullptr;
    if (entry->block != nullptr && entry->block != data) GlobalFree(entry->block);
    entry->format = format;
    entry->block = data;
    if (format == CF_TEXT) clipboard.textChanged = true;
    return data;
}

HANDLE GetClipboardData(UINT format) {
    if (!clipboard.open) return nullptr;
    Entry* entry = entryFor(format);
    return entry != nullptr ? entry->block : nullptr;
}

BOOL CloseClipboard() {
    if (!clipboard.open) return 0;
    clipboard.open = false;
    clipboard.openedBy = nullptr;
    if (clipboard.textChanged) {
        clipboard.textChanged = false;
        if (Entry* text = entryFor(CF_TEXT)) handTextToDesktop(text->block);
    }
    return 1;
}

namespace clipboard_testing {

void holdOpenByOtherOwner() { clipboard.otherOwnerHolds = true; }
void releaseOtherOwner() { clipboard.otherOwnerHolds = false; }

int heldBlocks() {
    int n = 0;
    for (const Entry& entry : clipboard.entries) n += entry.block != nullptr;
    return n;
}

}  // namespace clipboard_testing
