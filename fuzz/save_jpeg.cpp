// VornNative_saveJPEG on any sizes and any array: it must never read past
// the array, whatever the sizes ask for. The length word is the VM's truth,
// so it may claim fewer elements than the block holds (or be negative), never
// more.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "native/VornNative.h"
#include "platform/message_box.h"
#include "vm/vm.h"

namespace {
void quiet(const char*, const char*, UINT) {}
}  // namespace

// Byte 0: width, byte 1: height (both signed); byte 2, bit 0: height times
// 600 (past the library's limit); byte 3: how many elements the length word
// holds back (bit 7: the word is made negative). The rest: the elements.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    static const std::string path = "/tmp/vorn-fuzz-save-jpeg-" + std::to_string(getpid()) + ".jpg";
    setMessageBoxPresenter(quiet);
    std::int32_t width = static_cast<std::int8_t>(data[0]);
    std::int32_t height = static_cast<std::int8_t>(data[1]);
    if (data[2] & 1) height *= 600;
    auto count = static_cast<std::int32_t>((size - 4) / 4);
    std::int32_t claimed = count > (data[3] & 0x7F) ? count - (data[3] & 0x7F) : 0;
    if (data[3] & 0x80) claimed = -1 - claimed;
    vm::IntArray array(count);
    if (count > 0) std::memcpy(array.elements(), data + 4, static_cast<std::size_t>(count) * 4);
    array.setLengthWord(claimed);
    vm::LocalString name(path.c_str());
    std::int32_t result = VornNative_saveJPEG(0, name.handle(), array.handle(), width, height);
    if (result != 0 && result != 1) __builtin_trap();
    std::remove(path.c_str());
    return 0;
}
