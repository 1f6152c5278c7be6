// The GIF reader on arbitrary bytes: the first and the second image, each
// written back out when it was reached.
// The system's code has no run-time type information, so the dynamic type
// checks cannot run here.
#pragma clang attribute push(__attribute__((no_sanitize("vptr"))), apply_to = function)

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "image/gif_image.h"
#include "platform/message_box.h"
#include "support/memory.h"

namespace {

void quietBox(const char*, const char*, UINT) {}

bool loadBytes(MemoryFile& file, const std::uint8_t* data, std::size_t size) {
    auto* block = static_cast<std::uint8_t*>(allocBlock(static_cast<std::uint32_t>(size + 1), blockMovable));
    if (block == nullptr) return false;
    if (size > 0) std::memcpy(block, data, size);
    block[size] = 0;
    file.base = block;
    file.cursor = block;
    file.size = static_cast<std::int32_t>(size);
    file.consumed = 0;
    return true;
}

const std::string& outputPath() {
    static const std::string path = "/tmp/fuzz_gif_read_" + std::to_string(getpid()) + ".gif";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = (setMessageBoxPresenter(quietBox), true);
    (void)quiet;
    if (size > (1u << 20)) return 0;
    // Huge logical screens only measure the machine's memory.
    if (size >= 10 && static_cast<std::uint32_t>(data[6] | data[7] << 8) * (data[8] | data[9] << 8) > (1u << 24))
        return 0;
    for (std::int32_t frame = 0; frame < 2; ++frame) {
        GifImage image;
        if (!loadBytes(image.source, data, size)) return 0;
        if (image.readLoaded("fuzz", frame) == 1 && image.width * image.height <= (1 << 18)) {
            if (frame == 0) image.hasTransparent = 1;
            image.save(outputPath().c_str());
        }
    }
    std::remove(outputPath().c_str());
    return 0;
}

#pragma clang attribute pop
