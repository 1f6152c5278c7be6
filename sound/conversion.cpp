#include <cstring>

#include "sound/sound_clip.h"
#include "support/errors.h"
#include "support/memory.h"

namespace {

// Copies the first `take` bytes of `count` frames `from` bytes apart into
// frames `to` bytes apart. The common frame sizes get a copy of fixed size,
// which the compiler turns into a plain load and store.
template <int take>
void copyFramesOf(std::uint8_t* out, std::int64_t to, const std::uint8_t* in, std::int64_t from, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) std::memcpy(out + i * to, in + i * from, take);
}

void copyFrames(std::uint8_t* out, std::int64_t to, const std::uint8_t* in, std::int64_t from, std::int32_t take,
                std::int32_t count) {
    switch (take) {
    case 1: copyFramesOf<1>(out, to, in, from, count); return;
    case 2: copyFramesOf<2>(out, to, in, from, count); return;
    case 3: copyFramesOf<3>(out, to, in, from, count); return;
    case 4: copyFramesOf<4>(out, to, in, from, count); return;
    default:
        for (std::int32_t i = 0; i < count; ++i)
            std::memcpy(out + i * to, in + i * from, static_cast<std::size_t>(take));
    }
}

}  // namespace

void SoundClip::replaceSamples(std::uint8_t* block, std::int32_t bytes) {
    if (ownsSamples) freeBlock(samples);
    samples = block;
    ownsSamples = block != nullptr ? 1 : 0;
    sampleBytes = bytes;
}

int SoundClip::reduceChannels(std::int32_t wanted) {
    const std::int32_t c = format->channels;
    if (wanted == c || wanted < 1 || wanted > 2) return 1;
    // Widening would take each frame from two source frames and run past the
    // last one; nothing asks for it.
    if (wanted > c) return 1;
    const std::int32_t a = format->blockAlign;
    const std::int32_t newAlign = (a / c) * wanted;
    const std::int32_t newBytes = (sampleBytes / c) * wanted;
    if (newAlign == 0) return 0;

    std::uint8_t* block = nullptr;
    // An empty sound needs no block; asking for 0 bytes would only raise a
    // false out-of-memory alarm.
    if (newBytes > 0) {
        block = static_cast<std::uint8_t*>(allocBlock(static_cast<std::uint32_t>(newBytes), blockMovable));
        if (block == nullptr) return 0;
        std::int64_t whole = static_cast<std::int64_t>(frameCount) * newAlign;
        copyFrames(block, newAlign, samples, a, newAlign, frameCount);
        // The partial last frame, only as far as the data goes; nothing
        // uninitialised is left behind.
        std::memset(block + whole, 0, static_cast<std::size_t>(newBytes - whole));
        std::int64_t partialFrom = static_cast<std::int64_t>(frameCount) * a;
        std::int64_t partial = sampleBytes - partialFrom;
        if (partial > newAlign) partial = newAlign;
        if (partial > newBytes - whole) partial = newBytes - whole;
        if (partial > 0) std::memcpy(block + whole, samples + partialFrom, static_cast<std::size_t>(partial));
    }
    replaceSamples(block, newBytes);
    format->channels = static_cast<std::uint16_t>(wanted);
    format->blockAlign = static_cast<std::uint16_t>(newAlign);
    format->byteRate = static_cast<std::int32_t>(static_cast<std::uint32_t>(format->sampleRate) * newAlign);  // wraps, as the field does
    return 1;
}

int SoundClip::resample(std::int32_t rate) {
    if (rate < 1000 || rate > 100000) return 1;
    const std::int32_t q = format->sampleRate;
    if (rate == q) return 1;
    const std::int32_t a = format->blockAlign;
    if (q <= 0 || a == 0) return 0;

    const float step = static_cast<float>(static_cast<double>(q) / rate);
    std::int64_t length = static_cast<std::int64_t>(sampleBytes) * rate / q;
    if (length > 0x7FFFFFFF) {  // no block of 2 GB or more: a sample count is 32-bit
        showError("Sorry, not enough memory");
        return 0;
    }
    const std::int32_t newBytes = static_cast<std::int32_t>(length) & ~3;
    const std::int32_t newFrames = newBytes / a;

    std::uint8_t* block = nullptr;
    if (newBytes > 0) {
        block = static_cast<std::uint8_t*>(allocBlock(static_cast<std::uint32_t>(newBytes), blockMovable));
        if (block == nullptr) return 0;
        for (std::int32_t i = 0; i < newFrames; ++i) {
            auto source = static_cast<std::int64_t>(static_cast<double>(i) * static_cast<double>(step));
            std::int64_t from = source * a;
            std::uint8_t* to = block + static_cast<std::int64_t>(i) * a;
            if (from + a <= sampleBytes) {
                copyFrames(to, 0, samples + from, 0, a, 1);
                continue;
            }
            // The partial frame at the end as far as the data goes; past it, zero bytes.
            std::int64_t take = from < sampleBytes ? sampleBytes - from : 0;
            if (take > 0) std::memcpy(to, samples + from, static_cast<std::size_t>(take));
            std::memset(to + take, 0, static_cast<std::size_t>(a - take));
        }
        std::int64_t whole = static_cast<std::int64_t>(newFrames) * a;
        std::memset(block + whole, 0, static_cast<std::size_t>(newBytes - whole));
    }
    replaceSamples(block, newBytes);
    format->sampleRate = rate;
    format->byteRate = static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * rate);
    frameCount = newFrames;
    return 1;
}
