// Java's UTF-16 characters as the UTF-8 bytes the file system and the
// desktop expect.
#pragma once

#include <cstddef>
#include <cstdint>

class Utf8Text {
public:
    Utf8Text() = default;
    ~Utf8Text();
    Utf8Text(const Utf8Text&) = delete;
    Utf8Text& operator=(const Utf8Text&) = delete;

    // Returns 0, holding nothing, for an unpaired surrogate (it has no UTF-8
    // form) or memory that cannot be had. U+0000 becomes a zero byte, which
    // the name conversion then refuses.
    int convert(const std::uint16_t* characters, std::size_t count);
    const char* bytes() const { return text; }
    std::size_t size() const { return length; }

private:
    char* text = nullptr;
    std::size_t length = 0;
};
