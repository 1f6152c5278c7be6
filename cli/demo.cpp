// vorn demo: every service that is built, on the samples that ship with the
// project, into one output folder.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "cli/commands.h"
#include "native/VornNative.h"
#include "vm/vm.h"

namespace {

[[maybe_unused]] std::string samplePath(const char* name) { return std::string(VORN_SAMPLES_DIR) + "/" + name; }

long sizeOf(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

[[maybe_unused]] bool copyFile(const std::string& from, const std::string& to) {
    std::FILE* in = std::fopen(from.c_str(), "rb");
    if (in == nullptr) return false;
    std::FILE* out = std::fopen(to.c_str(), "wb");
    if (out == nullptr) {
        std::fclose(in);
        return false;
    }
    char buffer[65536];
    std::size_t n;
    bool ok = true;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) ok = ok && std::fwrite(buffer, 1, n, out) == n;
    std::fclose(in);
    return std::fclose(out) == 0 && ok;
}

// Says what a service made; false when it did not make it.
[[maybe_unused]] bool report(const char* service, int result, const std::string& made) {
    bool ok = result == 1 && sizeOf(made) >= 0;
    if (ok)
        std::printf("%-18s ok      %s (%ld bytes)\n", service, made.c_str(), sizeOf(made));
    else
        std::printf("%-18s FAILED  %s\n", service, made.c_str());
    return ok;
}

[[maybe_unused]] bool haveDesktop() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}

}  // namespace

int demo(const char* outDir) {
    mkdir(outDir, 0777);
    struct stat info;
    if (stat(outDir, &info) != 0 || !S_ISDIR(info.st_mode)) {
        std::fprintf(stderr, "vorn: demo: cannot make the folder %s\n", outDir);
        return 1;
    }
    std::string out(outDir);
    int failures = 0;
    std::printf("vorn demo: native interface version %d, output in %s\n", RNIGetCompatibleVersion(), outDir);
    std::fflush(stdout);

    // Each service prints after its call, so the library's own lines come first.
#if VORN_HAVE_MAKETRANSPARENT
    {
        std::string gif = out + "/sample.gif";
        int result = copyFile(samplePath("sample.gif"), gif) ? 0 : -1;
        vm::LocalString name(gif.c_str());
        if (result == 0) result = VornNative_makeTransparent(0, name.handle());
        failures += !report("make-transparent", result, gif);
    }
#endif
#if VORN_HAVE_SAVEJPEG
    {
        Picture picture;
        std::string problem;
        std::string jpeg = out + "/sample.jpg";
        int result = 0;
        if (readPpm(samplePath("sample.ppm").c_str(), picture, problem)) {
            vm::IntArray pixels(static_cast<std::int32_t>(picture.pixels.size()));
            for (std::size_t i = 0; i < picture.pixels.size(); ++i) pixels.elements()[i] = picture.pixels[i];
            vm::LocalString name(jpeg.c_str());
            result = VornNative_saveJPEG(0, name.handle(), pixels.handle(), picture.width, picture.height);
        }
        failures += !report("save-jpeg", result, jpeg);
    }
#endif
#if VORN_HAVE_WAV2AU
    {
        std::string wav = samplePath("sample.wav");
        std::string au = out + "/sample.au";
        vm::LocalString in(wav.c_str());
        vm::LocalString name(au.c_str());
        int result = VornNative_wav2au(0, in.handle(), name.handle());
        failures += !report("wav2au", result, au);
    }
#endif
#if VORN_HAVE_MAKECAB
    {
        // The cabinet packs what the demo made, with a folder break after the picture.
        std::vector<std::string> names;
        for (const char* name : {"sample.gif", "+", "sample.jpg", "sample.au"})
            if (std::string(name) == "+" || sizeOf(out + "/" + name) >= 0) names.push_back(name);
        // The directory and the name are joined as they are: the separator is ours to give.
        int result = callMakeCab((out + "/").c_str(), "sample.cab", names);
        failures += !report("make-cab", result, out + "/sample.cab");
    }
#endif
#if VORN_HAVE_COPYTOCLIPBOARD
    if (haveDesktop()) {
        vm::LocalString text("Hello from vorn demo");
        int result = VornNative_copyToClipboard(0, text.handle());
        std::printf("%-18s %s\n", "copy-to-clipboard",
                    result == 1 ? "ok      \"Hello from vorn demo\" is on the clipboard" : "FAILED");
        failures += result != 1;
    } else {
        std::printf("%-18s skipped (no desktop session: DISPLAY and WAYLAND_DISPLAY are unset)\n",
                    "copy-to-clipboard");
    }
#endif
#if VORN_HAVE_SHOWFILE
    if (haveDesktop() && std::getenv("VORN_DEMO_SHOW") != nullptr) {
        std::string gif = out + "/sample.gif";
        vm::LocalString directory(outDir);
        vm::LocalString file(gif.c_str());
        int result = VornNative_showFile(0, directory.handle(), file.handle());
        std::printf("%-18s %s %s\n", "show-file", result == 1 ? "ok      opened" : "FAILED  no program for",
                    gif.c_str());
        failures += result != 1;
    } else {
        std::printf("%-18s skipped (%s)\n", "show-file",
                    haveDesktop() ? "set VORN_DEMO_SHOW=1 to open the sample picture"
                                  : "no desktop session: DISPLAY and WAYLAND_DISPLAY are unset");
    }
#endif
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}
