// Small WAV files built byte by byte, for the cases no recorder writes.
#pragma once

#include <cstdint>
#include <string>

namespace wav {

inline std::string le16(unsigned value) {
    return {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF)};
}

inline std::string le32(std::uint32_t value) { return le16(value & 0xFFFF) + le16(value >> 16); }

// A chunk with its pad byte after an odd length.
inline std::string chunk(const char* id, const std::string& body, bool pad = true) {
    std::string out = std::string(id, 4) + le32(static_cast<std::uint32_t>(body.size())) + body;
    if (pad && (body.size() & 1) != 0) out += '\0';
    return out;
}

inline std::string fmtBody(unsigned channels, std::int32_t rate, unsigned align, unsigned bits, unsigned tag = 1) {
    return le16(tag) + le16(channels) + le32(static_cast<std::uint32_t>(rate)) +
           le32(static_cast<std::uint32_t>(rate) * align) + le16(align) + le16(bits);
}

inline std::string riff(const std::string& chunks) {
    return "RIFF" + le32(static_cast<std::uint32_t>(4 + chunks.size())) + "WAVE" + chunks;
}

// The canonical file: "fmt " then "data".
inline std::string pcm(unsigned channels, std::int32_t rate, unsigned bits, const std::string& data) {
    unsigned align = channels * ((bits + 7) / 8);
    return riff(chunk("fmt ", fmtBody(channels, rate, align, bits)) + chunk("data", data));
}

// 16-bit little-endian samples.
inline std::string samples16(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += le16(static_cast<unsigned>(v) & 0xFFFF);
    return out;
}

}  // namespace wav
