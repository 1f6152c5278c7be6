// Remakes the hostile GIF and WAV files in tests/data/{gif,wav}/hostile from
// real files in tests/data and from byte-by-byte constructions. The files are
// committed; the tests only read them. Run as
//   make_hostile_corpus TESTS_DATA_DIR [OUTPUT_DATA_DIR]
// (the output defaults to the input folder). The expected results live in
// the MANIFEST beside each folder, written by hand, not here.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/sound/wav_builder.h"

namespace {

std::string inputRoot;
std::string outputRoot;
int failures = 0;

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "cannot read " << path << "\n";
        ++failures;
        return "";
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void put(const std::string& folder, const std::string& name, const std::string& bytes) {
    std::string path = outputRoot + "/" + folder + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::cerr << "cannot write " << path << "\n";
        ++failures;
    }
}

// A real file cut at every tenth of its length (the first tenth and on).
void truncations(const std::string& folder, const std::string& source, const std::string& stem,
                 const std::string& extension) {
    std::string whole = readAll(inputRoot + "/" + source);
    for (int tenth = 1; tenth <= 9; ++tenth) {
        std::size_t cut = whole.size() * tenth / 10;
        put(folder, "cut-" + stem + "-" + std::to_string(tenth * 10) + "pc" + extension, whole.substr(0, cut));
    }
}

// ---------------------------------------------------------------- GIF

std::string le16(unsigned v) { return wav::le16(v); }

// Codes of given widths packed least significant bit first.
struct CodePacker {
    std::string bytes;
    int bits = 0;
    CodePacker& put(int code, int width) {
        for (int i = 0; i < width; ++i, ++bits) {
            if (bits % 8 == 0) bytes += '\0';
            if ((code >> i) & 1) bytes.back() = static_cast<char>(bytes.back() | (1 << (bits % 8)));
        }
        return *this;
    }
};

// Literal pixels at minimum code size 2 (width 3), a clear code before every
// second one so that the width never grows; then the end code.
std::string literals(const std::vector<int>& pixels, bool endCode = true) {
    CodePacker p;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (i % 2 == 0) p.put(4, 3);
        p.put(pixels[i], 3);
    }
    if (endCode) p.put(5, 3);
    return p.bytes;
}

// Data as sub-blocks of at most 255 bytes, with the terminator.
std::string subBlocks(const std::string& data, bool terminate = true) {
    std::string out;
    for (std::size_t at = 0; at < data.size(); at += 255) {
        std::size_t n = data.size() - at < 255 ? data.size() - at : 255;
        out += static_cast<char>(n);
        out += data.substr(at, n);
    }
    if (terminate) out += '\0';
    return out;
}

std::string table(int entries) {
    std::string out;
    for (int i = 0; i < entries; ++i) {
        out += static_cast<char>(i * 40 + 10);
        out += static_cast<char>(200 - i * 30);
        out += static_cast<char>(i * 7 + 3);
    }
    return out;
}

// Header and logical screen; flags 0x81 gives a global table of 4 entries.
std::string screen(unsigned w, unsigned h, int flags = 0x81, const char* version = "GIF89a") {
    std::string out = std::string(version, 6) + le16(w) + le16(h) + static_cast<char>(flags) + '\0' + '\0';
    if (flags & 0x80) out += table(1 << ((flags & 7) + 1));
    return out;
}

std::string descriptor(unsigned left, unsigned top, unsigned w, unsigned h, int flags = 0) {
    std::string out(1, ',');
    out += le16(left) + le16(top) + le16(w) + le16(h);
    out += static_cast<char>(flags);
    return out;
}

// A whole image: descriptor, local table when flagged, minimum code size, data.
std::string image(unsigned left, unsigned top, unsigned w, unsigned h, int flags, int minimum,
                  const std::string& data, bool terminate = true) {
    std::string out = descriptor(left, top, w, h, flags);
    if (flags & 0x80) out += table(1 << ((flags & 7) + 1));
    out += static_cast<char>(minimum);
    return out + subBlocks(data, terminate);
}

std::string control(int flags, int index) {
    return std::string("\x21\xF9\x04", 3) + static_cast<char>(flags) + '\0' + '\0' + static_cast<char>(index) + '\0';
}

const std::string trailer = ";";

void makeGifs() {
    const std::string f = "gif/hostile";
    truncations(f, "gif/two-colour-37x23.gif", "two-colour-37x23", ".gif");
    truncations(f, "gif/animated-two-palettes.gif", "animated-two-palettes", ".gif");
    truncations(f, "gif/made/transparent-restore.gif", "transparent-restore", ".gif");
    put(f, "empty.gif", "");
    put(f, "signature-only.gif", "GIF");
    put(f, "not-a-gif.gif", "GIX89a" + screen(2, 1).substr(6) + image(0, 0, 2, 1, 0, 2, literals({1, 2})) + trailer);

    const std::string two = literals({1, 2});
    const std::string four = literals({1, 2, 3, 0});
    // Logical screens.
    put(f, "screen-65535x65535.gif", screen(65535, 65535) + image(0, 0, 2, 1, 0, 2, two) + trailer);
    put(f, "screen-0x0.gif", screen(0, 0) + image(0, 0, 2, 1, 0, 2, two) + trailer);
    put(f, "screen-0x1.gif", screen(0, 1) + image(0, 0, 2, 1, 0, 2, two) + trailer);
    put(f, "screen-65535x1.gif", screen(65535, 1) + image(0, 0, 2, 1, 0, 2, two) + trailer);
    put(f, "screen-65532x1.gif", screen(65532, 1) + image(65530, 0, 2, 1, 0, 2, two) + trailer);
    put(f, "screen-1x65535.gif", screen(1, 65535) + image(0, 65534, 1, 1, 0, 2, literals({3})) + trailer);
    // Image sizes.
    put(f, "image-0x0.gif", screen(4, 2) + image(0, 0, 0, 0, 0, 2, literals({})) + trailer);
    put(f, "image-1x1.gif", screen(4, 2) + image(1, 1, 1, 1, 0, 2, literals({3})) + trailer);
    put(f, "image-65535x65535-ends.gif", screen(4, 2) + image(0, 0, 65535, 65535, 0, 2, four) + trailer);
    put(f, "image-65535x65535-no-end.gif",
        screen(4, 2) + image(0, 0, 65535, 65535, 0, 2, literals({1, 2, 3, 0}, false)) + trailer);
    put(f, "image-larger-than-screen.gif",
        screen(3, 2) + image(1, 1, 4, 3, 0, 2, literals({1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3})) + trailer);
    // Offsets that a signed reading would take as negative.
    put(f, "offset-0x8000.gif", screen(4, 2) + image(0x8000, 0x8000, 2, 1, 0, 2, two) + trailer);
    put(f, "offset-0xFFFF-left.gif", screen(4, 2) + image(0xFFFF, 0, 2, 1, 0, 2, two) + trailer);
    put(f, "offset-0x8000-restore.gif",
        screen(4, 2) + control(0x09, 2) + image(0x8000, 0x8000, 2, 1, 0, 2, two) + trailer);
    put(f, "offset-0x8000-restore-opaque.gif",
        screen(4, 2) + control(0x08, 0) + image(0x8000, 0, 0xFFFF, 0xFFFF, 0, 2, two) + trailer);
    // Colour tables.
    put(f, "no-colour-table.gif", screen(4, 1, 0x00) + image(0, 0, 4, 1, 0, 2, four) + trailer);
    put(f, "global-table-2.gif", screen(4, 1, 0x80) + image(0, 0, 4, 1, 0, 2, literals({1, 0, 1, 1})) + trailer);
    put(f, "global-table-256.gif", screen(4, 1, 0x87) + image(0, 0, 4, 1, 0, 2, four) + trailer);
    put(f, "local-table-256-no-global.gif", screen(4, 1, 0x00) + image(0, 0, 4, 1, 0x87, 2, four) + trailer);
    put(f, "global-table-cut.gif", screen(4, 1, 0x87).substr(0, 13 + 100));
    put(f, "local-table-cut.gif", screen(4, 1) + descriptor(0, 0, 4, 1, 0x87) + table(20));
    // Sub-blocks.
    put(f, "data-count-beyond-end.gif", screen(4, 1) + descriptor(0, 0, 4, 1) + '\x02' + '\xC8' + four.substr(0, 2));
    put(f, "data-count-beyond-end-with-end-code.gif", screen(4, 1) + descriptor(0, 0, 4, 1) + '\x02' + '\xFF' + four);
    put(f, "data-empty.gif", screen(4, 1) + descriptor(0, 0, 4, 1) + '\x02' + '\0' + trailer);
    put(f, "data-zero-block-mid-stream.gif",
        screen(4, 1) + descriptor(0, 0, 4, 1) + '\x02' + subBlocks(four.substr(0, 1), false) + '\0' +
            subBlocks(four.substr(1)) + trailer);
    put(f, "extension-count-beyond-end.gif", screen(4, 1) + "\x21\xFE\xFF" + "comment");
    put(f, "extension-empty-comment.gif",
        screen(4, 1) + std::string("\x21\xFE\0", 3) + image(0, 0, 4, 1, 0, 2, four) + trailer);
    put(f, "extension-unknown-label.gif",
        screen(4, 1) + std::string("\x21\x42\x03xyz\x01q\0", 9) + image(0, 0, 4, 1, 0, 2, four) + trailer);
    put(f, "graphic-control-cut.gif", screen(4, 1) + std::string("\x21\xF9\x04\x01", 4));
    put(f, "graphic-control-block-size-0.gif",
        screen(4, 1) + std::string("\x21\xF9\x00\x01\x00\x00\x02\x00", 8) + image(0, 0, 4, 1, 0, 2, four) + trailer);
    // Codes.
    put(f, "code-above-next-free.gif",
        screen(4, 1) + image(0, 0, 4, 1, 0, 2, CodePacker().put(4, 3).put(1, 3).put(7, 3).bytes) + trailer);
    put(f, "first-code-not-clear.gif",
        screen(4, 1) + image(0, 0, 4, 1, 0, 2, CodePacker().put(1, 3).put(6, 3).put(2, 3).put(5, 3).bytes) + trailer);
    put(f, "first-code-next-free.gif", screen(4, 1) + image(0, 0, 4, 1, 0, 2, CodePacker().put(6, 3).put(5, 3).bytes) + trailer);
    put(f, "clear-then-next-free.gif",
        screen(4, 1) + image(0, 0, 4, 1, 0, 2, CodePacker().put(1, 3).put(4, 3).put(6, 3).bytes) + trailer);
    put(f, "end-code-first.gif", screen(4, 1) + image(0, 0, 4, 1, 0, 2, CodePacker().put(5, 3).bytes) + trailer);
    {
        // Clear codes only, then nothing: the data ends with no end code.
        CodePacker p;
        for (int i = 0; i < 40; ++i) p.put(4, 3);
        put(f, "clear-codes-only.gif", screen(4, 1) + image(0, 0, 4, 1, 0, 2, p.bytes) + trailer);
    }
    {
        // Each code the one being defined: every string one pixel longer
        // than the last, up to the full table and on with 12-bit codes.
        auto growing = [](int codes) {
            CodePacker p;
            p.put(4, 3).put(1, 3);
            int next = 6, width = 3;
            for (int i = 0; i < codes; ++i) {
                p.put(next < 4096 ? next : 4095, width);
                if (next < 4096) ++next;
                if (next >= (1 << width) && width < 12) ++width;
            }
            p.put(5, width);
            return p.bytes;
        };
        // Ends inside a string, at the last pixel of the picture.
        put(f, "long-strings-unclipped.gif", screen(64, 1024) + image(0, 0, 64, 1024, 0, 2, growing(400)) + trailer);
        // Runs through the whole table on a screen that shows a corner of it.
        put(f, "long-strings-full-table-clipped.gif",
            screen(7, 5) + image(0, 0, 200, 65535, 0, 2, growing(4200)) + trailer);
    }
    put(f, "restore-area-larger-than-screen.gif",
        screen(4, 2) + control(0x09, 2) + image(1, 1, 0xFFFF, 0xFFFF, 0, 2, two) + trailer);
    // Minimum code sizes.
    for (int m : {0, 1, 9, 12, 255})
        put(f, "minimum-code-size-" + std::to_string(m) + ".gif", screen(4, 1) + image(0, 0, 4, 1, 0, m, four) + trailer);
    // Structure.
    put(f, "missing-terminator.gif", screen(4, 1) + image(0, 0, 4, 1, 0, 2, four, false));
    put(f, "missing-trailer.gif", screen(4, 1) + image(0, 0, 4, 1, 0, 2, four));
    put(f, "trailer-before-image.gif", screen(4, 1) + trailer + image(0, 0, 4, 1, 0, 2, four));
    put(f, "stray-block-byte.gif", screen(4, 1) + "X" + image(0, 0, 4, 1, 0, 2, four) + trailer);
    put(f, "descriptor-cut.gif", screen(4, 1) + descriptor(0, 0, 4, 1).substr(0, 4));
    put(f, "second-image-broken.gif",
        screen(4, 1) + image(0, 0, 4, 1, 0, 2, four) + image(0, 0, 4, 1, 0, 9, "\xFF\xFF") + "\x02\xFF");
    // Interlaced.
    put(f, "interlaced-1-row.gif", screen(4, 1) + image(0, 0, 4, 1, 0x40, 2, four) + trailer);
    put(f, "interlaced-taller-than-screen.gif",
        screen(2, 3) + image(0, 0, 2, 9, 0x40, 2, literals({1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3})) + trailer);
}

// ---------------------------------------------------------------- WAV

void makeWavs() {
    using wav::chunk;
    using wav::fmtBody;
    using wav::le16;
    using wav::le32;
    using wav::riff;
    const std::string f = "wav/hostile";
    truncations(f, "wav/ulaw-8000.wav", "ulaw-8000", ".wav");
    truncations(f, "wav/list-and-cue-before-data.wav", "list-and-cue", ".wav");
    {
        // Cuts inside the header of a real file: RIFF length, the fmt length,
        // the fmt body, the fact chunk, the data length, the first sample.
        std::string whole = readAll(inputRoot + "/wav/ulaw-8000.wav");
        for (int at : {6, 14, 18, 30, 44, 52, 56, 59})
            put(f, "cut-ulaw-8000-at-" + std::to_string(at) + ".wav", whole.substr(0, at));
        std::string listed = readAll(inputRoot + "/wav/list-and-cue-before-data.wav");
        put(f, "cut-list-and-cue-at-70.wav", listed.substr(0, 70));
    }
    put(f, "empty.wav", "");

    // Eight 16-bit frames at 8012 Hz: nothing to resample.
    const std::string samples = wav::samples16({0, 1000, -1000, 32767, -32768, 5, -5, 200});
    const std::string fmt = chunk("fmt ", fmtBody(1, 8012, 2, 16));
    const std::string data = chunk("data", samples);
    auto withRiffLength = [&](std::uint32_t length) { return "RIFF" + le32(length) + "WAVE" + fmt + data; };
    put(f, "riff-length-0.wav", withRiffLength(0));
    put(f, "riff-length-1.wav", withRiffLength(1));
    put(f, "riff-length-max.wav", withRiffLength(0xFFFFFFFF));
    put(f, "no-riff-header.wav", "WAVE" + fmt + data);
    put(f, "no-wave.wav", "RIFF" + le32(36) + "WAVX" + fmt + data);
    put(f, "no-fmt.wav", riff(data));
    put(f, "no-data.wav", riff(fmt));
    put(f, "data-before-fmt.wav", riff(data + fmt));
    put(f, "two-fmt.wav", riff(fmt + chunk("fmt ", fmtBody(2, 22050, 4, 16)) + data));
    // The format chunk.
    put(f, "fmt-0-bytes.wav", riff(chunk("fmt ", "") + data));
    put(f, "fmt-15-bytes.wav", riff(chunk("fmt ", fmtBody(1, 8012, 2, 16).substr(0, 15)) + data));
    put(f, "fmt-17-bytes-padded.wav", riff(chunk("fmt ", fmtBody(1, 8012, 2, 16) + "x") + data));
    put(f, "fmt-17-bytes-unpadded.wav", riff(chunk("fmt ", fmtBody(1, 8012, 2, 16) + "x", false) + data));
    put(f, "fmt-40-bytes.wav", riff(chunk("fmt ", fmtBody(1, 8012, 2, 16, 0xFFFE) + le16(22) + std::string(22, 'e')) + data));
    put(f, "fmt-length-max.wav", riff("fmt " + le32(0xFFFFFFFF) + fmtBody(1, 8012, 2, 16) + data));
    put(f, "fmt-length-past-end.wav", riff("fmt " + le32(0x1000) + fmtBody(1, 8012, 2, 16) + data));
    auto withFormat = [&](unsigned channels, std::int32_t rate, unsigned align, unsigned bits) {
        return riff(chunk("fmt ", fmtBody(channels, rate, align, bits)) + data);
    };
    put(f, "channels-0.wav", withFormat(0, 8012, 2, 16));
    put(f, "channels-65535.wav", withFormat(65535, 8012, 65535, 16));
    put(f, "channels-65535-align-1.wav", withFormat(65535, 8012, 1, 16));
    put(f, "block-align-0.wav", withFormat(1, 8012, 0, 16));
    put(f, "block-align-below-channels.wav", withFormat(2, 8012, 1, 8));
    put(f, "block-align-3.wav", withFormat(1, 8012, 3, 16));
    put(f, "block-align-65535.wav", withFormat(1, 8012, 65535, 16));
    put(f, "bits-0.wav", withFormat(1, 8012, 2, 0));
    put(f, "bits-1.wav", withFormat(1, 8012, 2, 1));
    put(f, "bits-64.wav", withFormat(1, 8012, 8, 64));
    put(f, "rate-0.wav", withFormat(1, 0, 2, 16));
    put(f, "rate-negative.wav", withFormat(1, -8012, 2, 16));
    put(f, "rate-min-negative.wav", withFormat(1, INT32_MIN, 2, 16));
    put(f, "rate-1.wav", withFormat(1, 1, 2, 16));
    put(f, "rate-huge.wav", withFormat(1, 0x7FFFFFFF, 2, 16));
    // The data chunk.
    const std::string head = riff(fmt);
    auto withDataLength = [&](std::uint32_t length, const std::string& body) { return head + "data" + le32(length) + body; };
    put(f, "data-length-0.wav", withDataLength(0, ""));
    put(f, "data-length-1.wav", riff(chunk("fmt ", fmtBody(1, 8012, 1, 8))) + "data" + le32(1) + "\x90" + '\0');
    put(f, "data-length-odd.wav", withDataLength(5, samples.substr(0, 5)) + '\0');
    put(f, "data-length-2GB.wav", withDataLength(0x80000000, samples));
    put(f, "data-length-max.wav", withDataLength(0xFFFFFFFF, samples));
    put(f, "data-length-beyond-file.wav", withDataLength(100, samples));
    put(f, "data-length-cut.wav", head + "data\x10");
    // Chunks between fmt and data.
    put(f, "chunk-past-end-before-data.wav", riff(fmt + "LIST" + le32(0x7FFFFFF0) + "INFO" + data));
    put(f, "chunk-past-end-no-data.wav", riff(fmt + "LIST" + le32(0x7FFFFFF0) + "INFO"));
    put(f, "odd-chunk-padded.wav", riff(fmt + chunk("junk", "abc") + data));
    put(f, "odd-chunk-unpadded.wav", riff(fmt + chunk("junk", "abc", false) + data));
    put(f, "data-spelled-in-list.wav", riff(fmt + chunk("LIST", "INFOICMT\x06\0\0\0xdata!") + data));
    // Stereo with a partial last frame; 8-bit stereo to be resampled.
    put(f, "stereo-partial-frame.wav", riff(chunk("fmt ", fmtBody(2, 8012, 4, 16)) + chunk("data", samples.substr(0, 6))));
    put(f, "stereo-u8-11025-odd.wav",
        riff(chunk("fmt ", fmtBody(2, 11025, 2, 8)) + chunk("data", std::string(41, '\x50'))));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: make_hostile_corpus TESTS_DATA_DIR [OUTPUT_DATA_DIR]\n";
        return 2;
    }
    inputRoot = argv[1];
    outputRoot = argc > 2 ? argv[2] : argv[1];
    for (const char* folder : {"/gif", "/gif/hostile", "/wav", "/wav/hostile"}) mkdir((outputRoot + folder).c_str(), 0755);
    makeGifs();
    makeWavs();
    return failures == 0 ? 0 : 1;
}
