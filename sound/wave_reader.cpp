#include <cstring>

#include "platform/files.h"
#include "sound/sound_clip.h"
#include "support/files.h"
#include "support/memory.h"

namespace {

// How far one attempt at reading the file came.
enum class Outcome { Loaded, Failed, WalkFailed };

// The input file with the position and size that allocations are held to.
struct Input {
    HANDLE file = INVALID_HANDLE_VALUE;
    std::int64_t position = 0;
    std::int64_t size = 0;
    std::uint8_t window[4] = {0, 0, 0, 0};
    bool readError = false;

    ~Input() { closeFile(file); }
    std::int64_t remaining() const { return size > position ? size - position : 0; }
};

// Reads until count bytes arrived or the file ends; the count that arrived.
std::int64_t readUpTo(Input& in, void* buffer, std::int64_t count) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        std::int64_t ask = count - done;
        if (ask > 0x40000000) ask = 0x40000000;
        std::int32_t got = readBytes(in.file, out + done, static_cast<std::int32_t>(ask));
        if (got < 0) in.readError = true;
        if (got <= 0) break;
        done += got;
    }
    in.position += done;
    return done;
}

bool readFully(Input& in, void* buffer, std::int64_t count) { return readUpTo(in, buffer, count) == count; }

std::uint32_t littleEndian32(const std::uint8_t* bytes) {
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// Slides the window one byte at a time until it holds the tag. The window
// keeps its content from one scan to the next; the comparison comes before
// each read, so a window that already holds the tag finds it at once.
bool scanFor(Input& in, const char* tag) {
    for (;;) {
        if (std::memcmp(in.window, tag, 4) == 0) return true;
        std::memmove(in.window, in.window + 1, 3);
        if (!readFully(in, in.window + 3, 1)) return false;
    }
}

// Passes over bytes without keeping them.
bool skipBytes(Input& in, std::int64_t count) {
    std::uint8_t scratch[16384];
    while (count > 0) {
        std::int64_t part = count < static_cast<std::int64_t>(sizeof scratch) ? count : sizeof scratch;
        if (!readFully(in, scratch, part)) return false;
        count -= part;
    }
    return true;
}

enum class Walk { Found, Failed, Error };

// Walks whole chunks by their declared lengths (and the pad byte after an odd
// one) while their headers lie inside the file; stops after the header of the
// first chunk named "data", its length in *length. Bytes that merely spell
// "data" inside another chunk are never looked at.
Walk walkToData(Input& in, std::uint32_t formatLength, std::uint32_t* length) {
    if ((formatLength & 1) != 0 && !skipBytes(in, 1)) return in.readError ? Walk::Error : Walk::Failed;
    for (;;) {
        if (in.remaining() < 8) return Walk::Failed;
        std::uint8_t header[8];
        if (!readFully(in, header, 8)) return in.readError ? Walk::Error : Walk::Failed;
        std::uint32_t declared = littleEndian32(header + 4);
        if (std::memcmp(header, "data", 4) == 0) {
            *length = declared;
            return Walk::Found;
        }
        std::int64_t body = static_cast<std::int64_t>(declared) + (declared & 1);
        if (body + 8 > in.remaining()) return Walk::Failed;  // the next header would lie outside
        if (!skipBytes(in, body)) return in.readError ? Walk::Error : Walk::Failed;
    }
}

}  // namespace

SoundClip::SoundClip()
    : format(static_cast<WaveFormat*>(allocZeroed(sizeof(WaveFormat)))),
      samples(nullptr),
      sampleBytes(0),
      ownsSamples(0),
      frameCount(0) {}

SoundClip::~SoundClip() {
    freeIfSet(format);
    if (ownsSamples) freeBlock(samples);
}

int SoundClip::allocateSamples(std::int32_t bytes) {
    if (bytes < 0 || format == nullptr || format->blockAlign == 0) return 0;
    sampleBytes = bytes;
    auto* block = static_cast<std::uint8_t*>(allocBlock(static_cast<std::uint32_t>(bytes) + 1, blockMovableShared));
    if (block == nullptr) return 0;
    block[bytes] = 0;
    samples = block;
    ownsSamples = 1;
    frameCount = bytes / format->blockAlign;
    return 1;
}

namespace {

// One pass over the file. With walk set, the data chunk is found by walking
// the chunks after the format body; without it, by the byte scan.
Outcome loadWave(SoundClip& clip, const char* name, bool walk) {
    Input in;
    in.file = openForReading(name);
    if (in.file == INVALID_HANDLE_VALUE) return Outcome::Failed;
    DWORD high = 0;
    DWORD low = GetFileSize(in.file, &high);
    in.size = (static_cast<std::int64_t>(high) << 32) | low;

    if (!scanFor(in, "WAVE") || !scanFor(in, "fmt ")) return Outcome::Failed;

    std::uint8_t field[4];
    if (!readFully(in, field, 4)) return Outcome::Failed;
    std::uint32_t formatLength = littleEndian32(field);
    // Only the first 16 bytes are interpreted, so a shorter body has no format.
    if (formatLength < sizeof(WaveFormat) || formatLength > in.remaining()) return Outcome::Failed;
    void* resized = resizeBlock(clip.format, formatLength);
    if (resized == nullptr) return Outcome::Failed;
    clip.format = static_cast<WaveFormat*>(resized);
    if (!readFully(in, clip.format, formatLength)) return Outcome::Failed;
    const WaveFormat& f = *clip.format;
    // Each of these is a divisor later on; a frame must hold a byte per channel.
    if (f.channels == 0 || f.blockAlign < f.channels || f.sampleRate <= 0) return Outcome::Failed;

    std::uint32_t dataLength = 0;
    if (walk) {
        Walk result = walkToData(in, formatLength, &dataLength);
        if (result == Walk::Error) return Outcome::Failed;
        if (result == Walk::Failed) return Outcome::WalkFailed;
    } else {
        if (!scanFor(in, "data")) return Outcome::Failed;
        if (!readFully(in, field, 4)) return Outcome::Failed;
        dataLength = littleEndian32(field);
    }

    // Never more than the file still holds: a length the file cannot back
    // must not size a block.
    std::int64_t wanted = dataLength;
    if (wanted > in.remaining()) wanted = in.remaining();
    if (wanted > 0x7FFFFFFE) wanted = 0x7FFFFFFE;
    if (!clip.allocateSamples(static_cast<std::int32_t>(wanted))) return Outcome::Failed;
    std::int64_t got = readUpTo(in, clip.samples, wanted);
    if (in.readError) return Outcome::Failed;
    // A file that ends early: what arrived, so that no byte the file did not
    // hold reaches the output.
    clip.sampleBytes = static_cast<std::int32_t>(got);
    clip.samples[got] = 0;
    clip.frameCount = clip.sampleBytes / f.blockAlign;
    return Outcome::Loaded;
}

}  // namespace

int SoundClip::readWave(const char* name) {
    if (format == nullptr || samples != nullptr) return 0;
    Outcome outcome = loadWave(*this, name, true);
    // Files that only the byte scan makes sense of (no pad byte, junk between
    // chunks) still load.
    if (outcome == Outcome::WalkFailed) outcome = loadWave(*this, name, false);
    return outcome == Outcome::Loaded ? 1 : 0;
}
