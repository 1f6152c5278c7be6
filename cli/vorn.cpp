// vorn: the command-line host. It plays the VM's part: it makes the VM's
// strings and arrays from its arguments and calls the library's exports.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "cli/commands.h"
#include "native/VornNative.h"
#include "vm/vm.h"

namespace {

const char usageText[] =
    "usage: vorn COMMAND [ARGUMENTS]\n"
    "  copy-to-clipboard TEXT        put TEXT on the clipboard\n"
    "  show-file DIR FILE            open FILE with its associated program\n"
    "  make-cab DIR CABNAME ENTRY... pack the entries into DIR/CABNAME (\"+\" closes a folder)\n"
    "  make-transparent FILE.gif     make the top-left colour of FILE.gif transparent\n"
    "  save-jpeg IN.ppm OUT.jpg      save a binary PPM (P6, maxval 255) as a JPEG file\n"
    "  wav2au IN.wav OUT.au          convert a WAV sound to 8012 Hz mu-law AU\n"
    "  version                       print the native interface version\n"
    "  demo [OUTDIR]                 run every service on the bundled samples\n"
    "  --help                        show this text\n"
    "Exit status: 0 when the method returned 1, 1 when it returned 0, 2 for a usage error.\n";

int usage() {
    std::fputs(usageText, stderr);
    return 2;
}

int notBuilt(const char* command) {
    std::fprintf(stderr, "vorn: %s: this method is not built into the library yet\n", command);
    return 2;
}

[[maybe_unused]] int exitFor(std::int32_t result) { return result == 1 ? 0 : 1; }

struct Command {
    const char* name;
    int minArgs;  // after the command word
    int maxArgs;  // -1: no limit
    int (*run)(int argc, char** argv);
};

int runCopyToClipboard([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
#if VORN_HAVE_COPYTOCLIPBOARD
    vm::LocalString text(argv[0]);
    return exitFor(VornNative_copyToClipboard(0, text.handle()));
#else
    return notBuilt("copy-to-clipboard");
#endif
}

int runShowFile([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
#if VORN_HAVE_SHOWFILE
    vm::LocalString directory(argv[0]);
    vm::LocalString file(argv[1]);
    return exitFor(VornNative_showFile(0, directory.handle(), file.handle()));
#else
    return notBuilt("show-file");
#endif
}

int runMakeCab([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
#if VORN_HAVE_MAKECAB
    return exitFor(callMakeCab(argv[0], argv[1], std::vector<std::string>(argv + 2, argv + argc)));
#else
    return notBuilt("make-cab");
#endif
}

}  // namespace

std::int32_t callMakeCab(const char* directory, const char* name, const std::vector<std::string>& entries) {
#if VORN_HAVE_MAKECAB
    std::vector<std::unique_ptr<vm::LocalString>> strings;
    std::vector<vm::Handle> handles;
    for (const std::string& entry : entries) {
        strings.push_back(std::make_unique<vm::LocalString>(entry.data(), entry.size()));
        handles.push_back(strings.back()->handle());
    }
    vm::StringArray array(handles.data(), static_cast<std::int32_t>(handles.size()));
    vm::LocalString vmDirectory(directory);
    vm::LocalString vmName(name);
    return VornNative_makeCab(0, array.handle(), vmDirectory.handle(), vmName.handle());
#else
    (void)directory;
    (void)name;
    (void)entries;
    return 0;
#endif
}

namespace {

int runMakeTransparent([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
#if VORN_HAVE_MAKETRANSPARENT
    vm::LocalString file(argv[0]);
    return exitFor(VornNative_makeTransparent(0, file.handle()));
#else
    return notBuilt("make-transparent");
#endif
}

int runSaveJpeg([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
#if VORN_HAVE_SAVEJPEG
    Picture picture;
    std::string problem;
    if (!readPpm(argv[0], picture, problem)) {
        std::fprintf(stderr, "vorn: %s: %s\n", argv[0], problem.c_str());
        return 1;
    }
    vm::IntArray pixels(static_cast<std::int32_t>(picture.pixels.size()));
    if (!pixels.valid()) {
        std::fprintf(stderr, "vorn: %s: not enough memory\n", argv[0]);
        return 1;
    }
    std::copy(picture.pixels.begin(), picture.pixels.end(), pixels.elements());
    vm::LocalString file(argv[1]);
    return exitFor(VornNative_saveJPEG(0, file.handle(), pixels.handle(), picture.width, picture.height));
#else
    return notBuilt("save-jpeg");
#endif
}

int runWav2au([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
#if VORN_HAVE_WAV2AU
    vm::LocalString wav(argv[0]);
    vm::LocalString au(argv[1]);
    return exitFor(VornNative_wav2au(0, wav.handle(), au.handle()));
#else
    return notBuilt("wav2au");
#endif
}

int runVersion(int, char**) {
    std::printf("%d\n", RNIGetCompatibleVersion());
    return 0;
}

int runDemo([[maybe_unused]] int argc, [[maybe_unused]] char** argv) { return demo(argc > 0 ? argv[0] : "vorn-demo"); }

const Command commands[] = {
    {"copy-to-clipboard", 1, 1, runCopyToClipboard},
    {"show-file", 2, 2, runShowFile},
    {"make-cab", 2, -1, runMakeCab},
    {"make-transparent", 1, 1, runMakeTransparent},
    {"save-jpeg", 2, 2, runSaveJpeg},
    {"wav2au", 2, 2, runWav2au},
    {"version", 0, 0, runVersion},
    {"demo", 0, 1, runDemo},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(usageText, stdout);
        return 0;
    }
    for (const Command& command : commands) {
        if (std::strcmp(argv[1], command.name) != 0) continue;
        int given = argc - 2;
        if (given < command.minArgs || (command.maxArgs >= 0 && given > command.maxArgs)) return usage();
        if (command.run == nullptr) return notBuilt(command.name);
        std::fflush(stdout);
        return command.run(given, argv + 2);
    }
    std::fprintf(stderr, "vorn: unknown command '%s'\n", argv[1]);
    return usage();
}
