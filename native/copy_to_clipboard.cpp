#include <cstring>

#include "native/VornNative.h"
#include "platform/clipboard.h"
#include "platform/global_memory.h"
#include "platform/runtime.h"

namespace {

constexpr std::size_t conversionBufferSize = 0x40000;

class HeapText {
public:
    explicit HeapText(std::size_t bytes) : text(static_cast<char*>(crt::malloc(bytes))) {}
    ~HeapText() { crt::free(text); }
    HeapText(const HeapText&) = delete;
    HeapText& operator=(const HeapText&) = delete;
    char* get() const { return text; }

private:
    char* text;
};

}  // namespace

VORN_EXPORT std::int32_t VornNative_copyToClipboard(vm::Handle, vm::Handle textString) {
    HWND owner = GetActiveWindow();
    std::int32_t length = javaStringLength(textString);
    if (length < 0) length = 0;
    std::size_t n = static_cast<std::size_t>(length);
    // Sized from the VM's length, so that a long text arrives whole.
    std::size_t bufferSize = n + 1 > conversionBufferSize ? n + 1 : conversionBufferSize;
    HeapText text(bufferSize);
    if (text.get() == nullptr) return 0;
    javaString2CString(textString, text.get(), static_cast<std::int32_t>(bufferSize < 0x7FFFFFFF ? bufferSize : 0x7FFFFFFF));

    if (!OpenClipboard(owner)) return 0;
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_DDESHARE, n + 1);
    if (block == nullptr) {
        CloseClipboard();
        return 0;
    }
    auto* bytes = static_cast<char*>(GlobalLock(block));
    std::memcpy(bytes, text.get(), n + 1);
    bytes[n] = '\0';
    GlobalUnlock(block);
    // Once taken, the block is the clipboard's; a refused one is still ours.
    if (SetClipboardData(CF_TEXT, block) == nullptr) GlobalFree(block);
    CloseClipboard();
    return 1;
}
