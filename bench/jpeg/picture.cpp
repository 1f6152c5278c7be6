#include "bench/jpeg/picture.h"

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace {

bool readNumber(std::FILE* in, long& value) {
    int c = std::fgetc(in);
    while (c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '#') {
        if (c == '#')
            while (c != '\n' && c != EOF) c = std::fgetc(in);
        c = std::fgetc(in);
    }
    if (c < '0' || c > '9') return false;
    value = 0;
    while (c >= '0' && c <= '9') {
        value = value * 10 + (c - '0');
        c = std::fgetc(in);
    }
    return c != EOF;  // the one blank after the number is taken
}

}  // namespace

bool makePicture(const std::string& name, const std::string& command, BenchPicture& picture) {
    std::FILE* in = popen(command.c_str(), "r");
    if (in == nullptr) return false;
    long width = 0, height = 0, maxval = 0;
    bool ok = std::fgetc(in) == 'P' && std::fgetc(in) == '6' && readNumber(in, width) && readNumber(in, height) &&
              readNumber(in, maxval) && maxval == 255 && width > 0 && height > 0;
    std::vector<std::uint8_t> rgb;
    if (ok) {
        rgb.resize(static_cast<std::size_t>(width) * height * 3);
        ok = std::fread(rgb.data(), 1, rgb.size(), in) == rgb.size();
    }
    ok = pclose(in) == 0 && ok;
    if (!ok) return false;
    picture.name = name;
    picture.width = static_cast<int>(width);
    picture.height = static_cast<int>(height);
    std::size_t count = static_cast<std::size_t>(width) * height;
    picture.values.resize(count);
    picture.bgr.resize(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* p = &rgb[i * 3];
        picture.values[i] = p[0] << 16 | p[1] << 8 | p[2];
        picture.bgr[i * 3] = p[2];
        picture.bgr[i * 3 + 1] = p[1];
        picture.bgr[i * 3 + 2] = p[0];
    }
    return true;
}

bool compressWithLibjpeg(const BenchPicture& picture, const char* path) {
    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr) return false;
    jpeg_compress_struct compressor;
    jpeg_error_mgr errors;
    compressor.err = jpeg_std_error(&errors);  // a library error ends the benchmark
    jpeg_create_compress(&compressor);
    jpeg_stdio_dest(&compressor, out);
    compressor.image_width = static_cast<JDIMENSION>(picture.width);
    compressor.image_height = static_cast<JDIMENSION>(picture.height);
    compressor.input_components = 3;
    compressor.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&compressor);
    jpeg_set_quality(&compressor, 90, TRUE);
    compressor.optimize_coding = FALSE;
    compressor.dct_method = JDCT_ISLOW;
    jpeg_start_compress(&compressor, TRUE);
    std::vector<JSAMPROW> rows(static_cast<std::size_t>(picture.height));
    for (int y = 0; y < picture.height; ++y)
        rows[static_cast<std::size_t>(y)] =
            const_cast<JSAMPROW>(picture.bgr.data() + static_cast<std::size_t>(y) * picture.width * 3);
    while (compressor.next_scanline < compressor.image_height)
        jpeg_write_scanlines(&compressor, rows.data() + compressor.next_scanline,
                             compressor.image_height - compressor.next_scanline);
    jpeg_finish_compress(&compressor);
    jpeg_destroy_compress(&compressor);
    return std::fclose(out) == 0;
}
