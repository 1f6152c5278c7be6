#include "tests/jpeg/jpeg_reader.h"

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <sstream>

#include <jpeglib.h>

namespace jpeg_reader {
namespace {

struct Errors {
    jpeg_error_mgr manager;
    std::jmp_buf back;
    char text[JMSG_LENGTH_MAX];
};

void failDecode(j_common_ptr info) {
    auto* errors = reinterpret_cast<Errors*>(info->err);
    errors->manager.format_message(info, errors->text);
    std::longjmp(errors->back, 1);
}

// The decoding itself, apart from anything with a destructor, for the jump.
bool decodeInto(jpeg_decompress_struct& info, Errors& errors, const std::string& bytes, Decoded& out) {
    if (setjmp(errors.back) != 0) return false;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    info.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&info);
    out.width = static_cast<int>(info.output_width);
    out.height = static_cast<int>(info.output_height);
    out.components = info.num_components;
    out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.rgb.data() + static_cast<std::size_t>(info.output_scanline) * out.width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}

}  // namespace

Rgb Decoded::at(int x, int y) const {
    const std::uint8_t* p = rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
    return {p[0], p[1], p[2]};
}

Decoded decode(const std::string& bytes) {
    Decoded out;
    jpeg_decompress_struct info;
    Errors errors;
    errors.text[0] = '\0';
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = failDecode;
    out.ok = decodeInto(info, errors, bytes, out);
    if (!out.ok) out.error = errors.text;
    jpeg_destroy_decompress(&info);
    return out;
}

bool segments(const std::string& bytes, std::vector<Segment>& out, std::string& problem) {
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    out.clear();
    if (bytes.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8) {
        problem = "no SOI at the start";
        return false;
    }
    out.push_back({0xD8, ""});
    std::size_t at = 2;
    for (;;) {
        if (at + 2 > bytes.size() || byte(at) != 0xFF) {
            std::ostringstream text;
            text << "no marker at offset " << at;
            problem = text.str();
            return false;
        }
        int marker = byte(at + 1);
        at += 2;
        if (marker == 0xD9) {
            out.push_back({marker, ""});
            if (at != bytes.size()) {
                problem = "bytes after EOI";
                return false;
            }
            return true;
        }
        if (at + 2 > bytes.size()) {
            problem = "segment length past the end";
            return false;
        }
        std::size_t length = byte(at) << 8 | byte(at + 1);
        if (length < 2 || at + length > bytes.size()) {
            problem = "segment runs past the end";
            return false;
        }
        out.push_back({marker, bytes.substr(at + 2, length - 2)});
        at += length;
        if (marker == 0xDA) {
            // Entropy-coded data: FF 00 is a data byte and FF D0-D7 a restart
            // marker; any other FF xx is the next segment.
            while (at + 1 < bytes.size() &&
                   !(byte(at) == 0xFF && byte(at + 1) != 0x00 && (byte(at + 1) < 0xD0 || byte(at + 1) > 0xD7))) {
                if (byte(at) == 0xFF && byte(at + 1) >= 0xD0 && byte(at + 1) <= 0xD7) out.push_back({byte(at + 1), ""});
                ++at;
            }
        }
    }
}

bool readPpm(const std::string& bytes, Picture& picture) {
    std::istringstream in(bytes);
    std::string magic;
    int maxval = 0;
    in >> magic >> picture.width >> picture.height >> maxval;
    if (!in || magic != "P6" || maxval != 255 || picture.width <= 0 || picture.height <= 0) return false;
    in.get();  // the one blank after maxval
    std::size_t start = static_cast<std::size_t>(in.tellg());
    std::size_t count = static_cast<std::size_t>(picture.width) * picture.height;
    if (bytes.size() < start + count * 3) return false;
    picture.pixels.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        auto p = reinterpret_cast<const std::uint8_t*>(bytes.data()) + start + i * 3;
        picture.pixels[i] = p[0] << 16 | p[1] << 8 | p[2];
    }
    return true;
}

double psnr(const Decoded& decoded, const std::vector<std::int32_t>& pixels) {
    double sum = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        int want[3] = {pixels[i] >> 16 & 0xFF, pixels[i] >> 8 & 0xFF, pixels[i] & 0xFF};
        for (int c = 0; c < 3; ++c) {
            double d = decoded.rgb[i * 3 + c] - want[c];
            sum += d * d;
        }
    }
    double mse = sum / (pixels.size() * 3.0);
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace jpeg_reader
