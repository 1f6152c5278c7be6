#include "tests/sweep/sweep_cases.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <memory>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include "cli/commands.h"
#include "native/VornNative.h"
#include "tests/desktop/desktop_support.h"
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

#if VORN_HAVE_SHOWFILE
// A desktop of the run's own: *.vornsweep is associated with a program that
// exits at once, with 0 only when it got one name of an existing file. It
// also stands for xdg-open.
std::unique_ptr<desktop_testing::XdgTree> desktop;
const char shownFile[] = "shown.vornsweep";

void prepareDesktop(const std::string& dir) {
    // Started programs are detached; as the subreaper this process gets
    // each one back and can tell whether a call started it.
    static const bool subreaper = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
    if (!subreaper) std::abort();
    desktop.reset();
    desktop = std::make_unique<desktop_testing::XdgTree>(dir + "/xdg");
    const std::string checker = "#!/bin/sh\n[ $# -eq 1 ] && [ -f \"$1\" ]\n";
    desktop_testing::writeScript(desktop->bin + "/vorn-shown", checker);
    desktop_testing::writeScript(desktop->bin + "/xdg-open", checker);
    desktop_testing::writeTree(desktop->data + "/mime/globs2", "50:application/x-vorn-sweep:*.vornsweep\n");
    desktop->entry("vorn-shown.desktop", "vorn-shown %f");
    desktop_testing::writeTree(desktop->config + "/mimeapps.list",
                               "[Default Applications]\napplication/x-vorn-sweep=vorn-shown.desktop;\n");
    writeFile(dir + "/" + shownFile, "x");
}

long long nowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Reaps every program started since the last look: one that ran and got
// its file, or none.
std::string checkStarted(int result) {
    int ran = 0, failed = 0;
    long long deadline = nowMs() + 30000;
    for (;;) {
        int status = 0;
        pid_t child = waitpid(-1, &status, WNOHANG);
        if (child > 0) {
            (WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ran : failed) += 1;
            continue;
        }
        if (child < 0 && errno == ECHILD) break;
        if (child < 0 && errno != EINTR) return std::string("waitpid: ") + std::strerror(errno);
        if (nowMs() > deadline) return "a started program did not end";
        timespec pause{0, 1000000};
        nanosleep(&pause, nullptr);
    }
    if (result == 1 && (ran != 1 || failed != 0))
        return "result 1, but " + std::to_string(ran) + " programs got the file and " + std::to_string(failed) +
               " others ended";
    if (result != 1 && ran != 0) return "result " + std::to_string(result) + ", but the program was started";
    return {};
}

// The caller's current directory deeper than the method's fixed buffer, so
// that saving it takes a block; the call must leave the caller there.
std::string deepFolder;
std::string leftIn;

void prepareDeepFolder(const std::string& dir) {
    prepareDesktop(dir);
    deepFolder = dir + "/deep";
    while (deepFolder.size() < 300) deepFolder += "/" + std::string(40, 'd');
    desktop_testing::makeDirs(deepFolder);
}

int showFile(const std::string& directory, const std::string& file);

int showFileFromDeepFolder(const std::string& dir) {
    std::string start = desktop_testing::currentDirectory();
    if (chdir(deepFolder.c_str()) != 0) return -1;
    int result = showFile(dir, dir + "/" + shownFile);
    leftIn = desktop_testing::currentDirectory();
    if (chdir(start.c_str()) != 0) return -1;
    return result;
}

std::string checkStartedFromDeepFolder(int result) {
    std::string problem = checkStarted(result);
    if (problem.empty() && leftIn != deepFolder) problem = "the caller was left in " + leftIn;
    return problem;
}

int showFile(const std::string& directory, const std::string& file) {
    vm::LocalString d(directory.c_str());
    vm::LocalString f(file.c_str());
    return static_cast<int>(VornNative_showFile(0, d.handle(), f.handle()));
}
#endif

#if VORN_HAVE_COPYTOCLIPBOARD
// A desktop whose clipboard tool takes the text and exits, so that the copy
// is also handed off.
struct HandOffDesktop {
    desktop_testing::XdgTree tree;
    desktop_testing::ScopedEnv display{"DISPLAY", ":77"};
    desktop_testing::ScopedEnv wayland{"WAYLAND_DISPLAY", nullptr};
    explicit HandOffDesktop(const std::string& root) : tree(root) {
        desktop_testing::writeScript(tree.bin + "/xclip", "#!/bin/sh\n/bin/cat > /dev/null\n");
    }
};
std::unique_ptr<HandOffDesktop> handOffDesktop;
#endif

std::vector<MethodCase> makeCases() {
    std::vector<MethodCase> cases;
#if VORN_HAVE_MAKETRANSPARENT
    cases.push_back({"makeTransparent", "picture.gif",
                     [](const std::string& dir) { copySample("sample.gif", dir + "/picture.gif"); },
                     [](const std::string& dir) {
                         vm::LocalString name((dir + "/picture.gif").c_str());
                         return static_cast<int>(VornNative_makeTransparent(0, name.handle()));
                     },
                     nullptr});
#endif
#if VORN_HAVE_SAVEJPEG
    cases.push_back({"saveJPEG", "picture.jpg",
                     [](const std::string& dir) {
                         copySample("sample.ppm", dir + "/picture.ppm");
                         writeFile(dir + "/picture.jpg", oldOutput);
                     },
                     [](const std::string& dir) {
                         Picture picture;
                         std::string problem;
                         if (!readPpm((dir + "/picture.ppm").c_str(), picture, problem)) return -1;
                         vm::IntArray pixels(static_cast<std::int32_t>(picture.pixels.size()));
                         for (std::size_t i = 0; i < picture.pixels.size(); ++i) pixels.elements()[i] = picture.pixels[i];
                         vm::LocalString name((dir + "/picture.jpg").c_str());
                         return static_cast<int>(
                             VornNative_saveJPEG(0, name.handle(), pixels.handle(), picture.width, picture.height));
                     },
                     nullptr});
#endif
#if VORN_HAVE_WAV2AU
    cases.push_back({"wav2au", "sound.au",
                     [](const std::string& dir) {
                         copySample("sample.wav", dir + "/sound.wav");
                         writeFile(dir + "/sound.au", oldOutput);
                     },
                     [](const std::string& dir) {
                         vm::LocalString wav((dir + "/sound.wav").c_str());
                         vm::LocalString au((dir + "/sound.au").c_str());
                         return static_cast<int>(VornNative_wav2au(0, wav.handle(), au.handle()));
                     },
                     nullptr});
#endif
#if VORN_HAVE_MAKECAB
    cases.push_back({"makeCab", "pack.cab",
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
                         // The cabinet path is the directory and the name run together.
                         vm::LocalString directory((dir + "/").c_str());
                         vm::LocalString name("pack.cab");
                         return static_cast<int>(
                             VornNative_makeCab(0, entries.handle(), directory.handle(), name.handle()));
                     },
                     nullptr});
#endif
#if VORN_HAVE_SHOWFILE
    // Through the association, from a deep current directory, and with no
    // directory through xdg-open.
    cases.push_back({"showFile", "", prepareDesktop,
                     [](const std::string& dir) { return showFile(dir, dir + "/" + shownFile); }, checkStarted});
    cases.push_back({"showFileDeepCwd", "", prepareDeepFolder, showFileFromDeepFolder,
                     checkStartedFromDeepFolder});
    cases.push_back({"showFileXdgOpen", "", prepareDesktop,
                     [](const std::string& dir) { return showFile("", dir + "/" + shownFile); }, checkStarted});
#endif
#if VORN_HAVE_COPYTOCLIPBOARD
    cases.push_back({"copyToClipboard", "", [](const std::string&) { handOffDesktop.reset(); },
                     [](const std::string&) {
                         vm::LocalString text("text for the clipboard");
                         return static_cast<int>(VornNative_copyToClipboard(0, text.handle()));
                     },
                     nullptr});
    // Also handed to an X desktop's clipboard tool.
    cases.push_back({"copyToClipboardX", "",
                     [](const std::string& dir) {
                         handOffDesktop.reset();
                         handOffDesktop = std::make_unique<HandOffDesktop>(dir + "/desktop");
                     },
                     [](const std::string&) {
                         vm::LocalString text("text for the clipboard and the desktop");
                         return static_cast<int>(VornNative_copyToClipboard(0, text.handle()));
                     },
                     nullptr});
#endif
    return cases;
}

}  // namespace

int openDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
        closedir(dir);
    }
    return count - 1;  // the one opendir holds
}

const std::vector<MethodCase>& methodCases() {
    static const std::vector<MethodCase> cases = makeCases();
    return cases;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        result.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}
