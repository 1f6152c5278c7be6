#include "tests/sweep/sweep_cases.h"

#include <cstdlib>
#include <sys/stat.h>
#include <utime.h>

#include "cli/commands.h"
#include "native/VornNative.h"
#include "vm/vm.h"

using namespace testing_support;

const char oldOutput[] = "old output, which a failed run must leave as it was";

namespace {

[[maybe_unused]] std::string sample(const char* name) { return std::string(VORN_SAMPLES_DIR) + "/" + name; }

[[maybe_unused]] void copySample(const char* name, const std::string& to) {
    writeFile(to, readFile(sample(name)));
}

// Fixed times, so that a cabinet made twice is the same to the byte.
[[maybe_unused]] void fixTime(const std::string& path) {
    struct utimbuf times = {1700000000, 1700000000};
    utime(path.c_str(), &times);
}

std::vector<MethodCase> makeCases() {
    std::vector<MethodCase> cases;
#if VORN_HAVE_MAKETRANSPARENT
    cases.push_back({"makeTransparent", "picture.gif", false,
                     [](const std::string& dir) { copySample("sample.gif", dir + "/picture.gif"); },
                     [](const std::string& dir) {
                         vm::LocalString name((dir + "/picture.gif").c_str());
                         return static_cast<int>(VornNative_makeTransparent(0, name.handle()));
                     }});
#endif
#if VORN_HAVE_SAVEJPEG
    cases.push_back({"saveJPEG", "picture.jpg", false,
                     [](const std::string& dir) { writeFile(dir + "/picture.jpg", oldOutput); },
                     [](const std::string& dir) {
                         static Picture picture;
                         if (picture.pixels.empty()) {
                             std::string problem;
                             readPpm(sample("sample.ppm").c_str(), picture, problem);
                         }
                         vm::IntArray pixels(static_cast<std::int32_t>(picture.pixels.size()));
                         for (std::size_t i = 0; i < picture.pixels.size(); ++i) pixels.elements()[i] = picture.pixels[i];
                         vm::LocalString name((dir + "/picture.jpg").c_str());
                         return static_cast<int>(
                             VornNative_saveJPEG(0, name.handle(), pixels.handle(), picture.width, picture.height));
                     }});
#endif
#if VORN_HAVE_WAV2AU
    cases.push_back({"wav2au", "sound.au", false,
                     [](const std::string& dir) {
                         copySample("sample.wav", dir + "/sound.wav");
                         writeFile(dir + "/sound.au", oldOutput);
                     },
                     [](const std::string& dir) {
                         vm::LocalString wav((dir + "/sound.wav").c_str());
                         vm::LocalString au((dir + "/sound.au").c_str());
                         return static_cast<int>(VornNative_wav2au(0, wav.handle(), au.handle()));
                     }});
#endif
#if VORN_HAVE_MAKECAB
    cases.push_back({"makeCab", "pack.cab", true,
                     [](const std::string& dir) {
                         std::string text;
                         for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i * 7919 % 1000) + " of text\n";
                         writeFile(dir + "/a.txt", text);
                         std::string binary;
                         for (int i = 0; i < 40000; ++i) binary += static_cast<char>((i * 2654435761u) >> 24);
                         writeFile(dir + "/b.bin", binary);
                         fixTime(dir + "/a.txt");
                         fixTime(dir + "/b.bin");
                         writeFile(dir + "/pack.cab", oldOutput);
                     },
                     [](const std::string& dir) {
                         vm::LocalString a("a.txt"), plus("+"), b("b.bin");
                         vm::Handle handles[] = {a.handle(), plus.handle(), b.handle()};
                         vm::StringArray entries(handles, 3);
                         vm::LocalString directory(dir.c_str());
                         vm::LocalString name("pack.cab");
                         return static_cast<int>(
                             VornNative_makeCab(0, entries.handle(), directory.handle(), name.handle()));
                     }});
#endif
#if VORN_HAVE_COPYTOCLIPBOARD
    cases.push_back({"copyToClipboard", "", false, [](const std::string&) {},
                     [](const std::string&) {
                         vm::LocalString text("text for the clipboard");
                         return static_cast<int>(VornNative_copyToClipboard(0, text.handle()));
                     }});
#endif
    return cases;
}

}  // namespace

const std::vector<MethodCase>& methodCases() {
    static const std::vector<MethodCase> cases = makeCases();
    return cases;
}
