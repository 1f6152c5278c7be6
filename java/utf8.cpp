#include "java/utf8.h"

#include <cstdlib>

namespace {

bool isHigh(std::uint16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLow(std::uint16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

Utf8Text::~Utf8Text() { std::free(text); }

int Utf8Text::convert(const std::uint16_t* characters, std::size_t count) {
    std::free(text);
    text = nullptr;
    length = 0;
    // A UTF-16 unit never takes more than 3 bytes (a pair takes 4 for 2).
    if (count > (SIZE_MAX - 1) / 3) return 0;
    char* out = static_cast<char*>(std::malloc(count * 3 + 1));
    if (out == nullptr) return 0;
    std::size_t n = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t c = characters[i];
        if (isHigh(static_cast<std::uint16_t>(c))) {
            if (i + 1 >= count || !isLow(characters[i + 1])) {
                std::free(out);
                return 0;
            }
            c = 0x10000 + ((c - 0xD800) << 10) + (characters[i + 1] - 0xDC00u);
            ++i;
        } else if (isLow(static_cast<std::uint16_t>(c))) {
            std::free(out);
            return 0;
        }
        if (c < 0x80) {
            out[n++] = static_cast<char>(c);
        } else if (c < 0x800) {
            out[n++] = static_cast<char>(0xC0 | (c >> 6));
            out[n++] = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out[n++] = static_cast<char>(0xE0 | (c >> 12));
            out[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out[n++] = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out[n++] = static_cast<char>(0xF0 | (c >> 18));
            out[n++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out[n++] = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    out[n] = '\0';
    text = out;
    length = n;
    return 1;
}
