// One uncompressed sound in memory: the WAV format record and the sample
// frames, and the conversions that turn it into an 8012 Hz mu-law AU file.
#pragma once

#include <cstdint>

// The "fmt " chunk body as it lies in the file (little-endian fields); the
// record is as long as the chunk declares, extension bytes included.
struct WaveFormat {
    std::uint16_t formatTag;  // never consulted: every sound is linear samples
    std::uint16_t channels;
    std::int32_t sampleRate;
    std::int32_t byteRate;
    std::uint16_t blockAlign;
    std::uint16_t bitsPerSample;  // 8: unsigned 8-bit; anything else: signed 16-bit LE
};
static_assert(sizeof(WaveFormat) == 16, "WaveFormat is the 16-byte fmt body");

class SoundClip {
public:
    SoundClip();
    virtual ~SoundClip();
    SoundClip(const SoundClip&) = delete;
    SoundClip& operator=(const SoundClip&) = delete;

    // 1 when the format and the samples were loaded. Called once, on a new
    // record. A file that ends inside the sample data loads what arrived.
    int readWave(const char* name);
    // 1 when a block of bytes + 1 (the last one 0) exists; sets the counts.
    int allocateSamples(std::int32_t bytes);

    // Keeps the first `wanted` channels of each frame (1 or 2; a count above
    // the current one leaves the sound as it is). 0 only when the new block
    // cannot be had; the sound is then unchanged.
    int reduceChannels(std::int32_t wanted);
    // Picks frames for `rate` (1000..100000; others leave the sound as it
    // is). 0 only when the new block cannot be had.
    int resample(std::int32_t rate);
    // One mu-law byte per frame from the first sample of each frame, behind
    // the 24-byte header. 1 when the file was created and written whole.
    int writeAu(const char* name);

    WaveFormat* format;
    std::uint8_t* samples;
    std::int32_t sampleBytes;
    std::int32_t ownsSamples;
    std::int32_t frameCount;

private:
    void replaceSamples(std::uint8_t* block, std::int32_t bytes);
};

// G.711 mu-law of one signed 16-bit value.
std::uint8_t encodeMuLaw(std::int32_t sample);
