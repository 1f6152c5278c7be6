#include <cctype>
#include <cstdio>
#include <memory>

#include "cli/commands.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The next header number, past blanks and comments.
bool readNumber(std::FILE* file, long& value) {
    int c = std::fgetc(file);
    for (;;) {
        while (c != EOF && std::isspace(c)) c = std::fgetc(file);
        if (c != '#') break;
        while (c != EOF && c != '\n') c = std::fgetc(file);
    }
    if (c == EOF || !std::isdigit(c)) return false;
    value = 0;
    while (c != EOF && std::isdigit(c)) {
        value = value * 10 + (c - '0');
        if (value > 1000000) return false;
        c = std::fgetc(file);
    }
    return c != EOF && std::isspace(c);  // exactly one blank ends the header's last number
}

}  // namespace

bool readPpm(const char* path, Picture& picture, std::string& problem) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file) {
        problem = "cannot open the file";
        return false;
    }
    long width = 0, height = 0, maxval = 0;
    if (std::fgetc(file.get()) != 'P' || std::fgetc(file.get()) != '6') {
        problem = "not a binary PPM (P6) file";
        return false;
    }
    if (!readNumber(file.get(), width) || !readNumber(file.get(), height) || !readNumber(file.get(), maxval)) {
        problem = "broken PPM header";
        return false;
    }
    if (maxval != 255) {
        problem = "only a maxval of 255 is supported";
        return false;
    }
    if (static_cast<unsigned long long>(width) * static_cast<unsigned long long>(height) > 0x7FFFFFFFull) {
        problem = "picture too large";
        return false;
    }
    picture.width = static_cast<std::int32_t>(width);
    picture.height = static_cast<std::int32_t>(height);
    std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::vector<unsigned char> rgb(count * 3);
    if (std::fread(rgb.data(), 1, rgb.size(), file.get()) != rgb.size()) {
        problem = "the file ends inside the pixel data";
        return false;
    }
    picture.pixels.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        picture.pixels[i] = (rgb[3 * i] << 16) | (rgb[3 * i + 1] << 8) | rgb[3 * i + 2];
    return true;
}
