// The whole conversion on a file holding the input: reading, both
// conversions and the AU writer.
#include <cstdint>
#include <cstdio>
#include <string>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

#include "native/VornNative.h"
#include "platform/message_box.h"
#include "vm/vm.h"

namespace {

void quiet(const char*, const char*, UINT) {}

struct Paths {
    std::string wav;
    std::string au;
    Paths() {
        const char* tmp = getenv("TMPDIR");
        std::string base = std::string(tmp != nullptr ? tmp : "/tmp") + "/fuzz_wav2au." + std::to_string(getpid());
        wav = base + ".wav";
        au = base + ".au";
        setMessageBoxPresenter(quiet);
        // A few bytes claiming one frame a second become megabytes at 8012
        // frames a second; past 1 MB the write fails, and the writer stops.
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {1 << 20, 1 << 20};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Paths paths;
    std::FILE* file = std::fopen(paths.wav.c_str(), "wb");
    if (file == nullptr) return 0;
    if (size > 0 && std::fwrite(data, 1, size, file) != size) {
        std::fclose(file);
        return 0;
    }
    std::fclose(file);
    vm::LocalString wav(paths.wav.c_str());
    vm::LocalString au(paths.au.c_str());
    std::int32_t result = VornNative_wav2au(0, wav.handle(), au.handle());
    if (result == 1) {
        // The file must be the header and one byte per frame.
        std::FILE* out = std::fopen(paths.au.c_str(), "rb");
        if (out == nullptr) __builtin_trap();
        std::uint8_t header[24];
        if (std::fread(header, 1, 24, out) != 24) __builtin_trap();
        std::fseek(out, 0, SEEK_END);
        long length = std::ftell(out);
        std::fclose(out);
        std::uint32_t declared = (header[8] << 24) | (header[9] << 16) | (header[10] << 8) | header[11];
        if (static_cast<long>(declared) + 24 != length) __builtin_trap();
    }
    std::remove(paths.au.c_str());
    return 0;
}
