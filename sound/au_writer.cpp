#include "sound/sound_clip.h"
#include "support/files.h"

namespace {

// Entry i: the integer part of log2 i; 0 for entries 0 and 1.
struct ExponentTable {
    std::uint8_t value[256];
    constexpr ExponentTable() : value() {
        for (int i = 2; i < 256; ++i) value[i] = static_cast<std::uint8_t>(value[i / 2] + 1);
    }
};
constexpr ExponentTable exponents;

constexpr std::uint32_t auMagic = 0x2E736E64;  // ".snd"
constexpr std::uint32_t auHeaderBytes = 24;
constexpr std::uint32_t auMuLaw = 1;

}  // namespace

std::uint8_t encodeMuLaw(std::int32_t sample) {
    int sign = sample < 0 ? 0x80 : 0;
    std::int32_t magnitude = sample < 0 ? -sample : sample;
    if (magnitude > 32635) magnitude = 32635;
    magnitude += 132;
    int exponent = exponents.value[(magnitude >> 7) & 0xFF];
    int mantissa = (magnitude >> (exponent + 3)) & 0x0F;
    return static_cast<std::uint8_t>(~(sign | (exponent << 4) | mantissa));
}

int SoundClip::writeAu(const char* name) {
    HANDLE file = createForWriting(name, 1);
    if (file == INVALID_HANDLE_VALUE) return 0;
    const std::uint32_t header[] = {auMagic, auHeaderBytes, static_cast<std::uint32_t>(frameCount), auMuLaw,
                                    static_cast<std::uint32_t>(format->sampleRate), format->channels};
    bool writing = true;
    for (std::uint32_t value : header) writing = writing && writeLong(file, swapBytes32(value)) == 4;

    const bool eightBit = format->bitsPerSample == 8;
    const std::int64_t align = format->blockAlign;
    // Encoded in runs rather than a call per byte; the bytes are the same.
    // After a failed write (shown once) nothing more can reach the file.
    std::uint8_t run[4000];
    std::int32_t filled = 0;
    for (std::int32_t i = 0; writing && i < frameCount; ++i) {
        const std::int64_t at = i * align;
        std::int32_t value;
        if (eightBit) {
            value = (samples[at] - 128) * 256;
        } else {
            // A one-byte frame has no second byte of its own at the very end.
            std::uint8_t high = at + 1 < sampleBytes ? samples[at + 1] : 0;
            value = static_cast<std::int16_t>(samples[at] | (high << 8));
        }
        run[filled++] = encodeMuLaw(value);
        if (filled == static_cast<std::int32_t>(sizeof run)) {
            writing = writeBytes(file, run, filled) == filled;
            filled = 0;
        }
    }
    if (writing && filled > 0) writeBytes(file, run, filled);
    return closeFile(file);
}
