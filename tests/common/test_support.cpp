#include "tests/common/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/message_box.h"
#include "support/errors.h"

namespace testing_support {
namespace {

std::mutex recordLock;
std::vector<std::string> recordedBoxes;
std::vector<std::string> recordedTraces;

void recordBox(const char* caption, const char* text, UINT) {
    std::lock_guard<std::mutex> guard(recordLock);
    recordedBoxes.push_back(std::string(caption ? caption : "") + ": " + (text ? text : ""));
}

void recordTrace(const char* text) {
    std::lock_guard<std::mutex> guard(recordLock);
    recordedTraces.push_back(text ? text : "(null)");
}

void removeTree(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return;
    if (S_ISDIR(info.st_mode)) {
        chmod(path.c_str(), 0700);
        if (DIR* dir = opendir(path.c_str())) {
            while (dirent* entry = readdir(dir)) {
                std::string name = entry->d_name;
                if (name != "." && name != "..") removeTree(path + "/" + name);
            }
            closedir(dir);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

}  // namespace

Recorder::Recorder() {
    clear();
    setMessageBoxPresenter(recordBox);
    setTraceObserver(recordTrace);
}

Recorder::~Recorder() {
    setMessageBoxPresenter(nullptr);
    setTraceObserver(nullptr);
}

const std::vector<std::string>& Recorder::boxes() const { return recordedBoxes; }
const std::vector<std::string>& Recorder::traces() const { return recordedTraces; }

int Recorder::boxCount(const std::string& text) const {
    int n = 0;
    for (const std::string& box : recordedBoxes) n += box == "Error: " + text;
    return n;
}

void Recorder::clear() {
    std::lock_guard<std::mutex> guard(recordLock);
    recordedBoxes.clear();
    recordedTraces.clear();
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vorn-test-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) != nullptr) root = name.data();
}

TempDir::~TempDir() {
    if (!root.empty()) removeTree(root);
}

std::vector<std::string> TempDir::list() const {
    std::vector<std::string> names;
    if (DIR* dir = opendir(root.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    return names;
}

std::string readFile(const std::string& path) {
    std::string bytes;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
        std::fclose(file);
    }
    return bytes;
}

bool writeFile(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

bool fileExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

std::string dataPath(const std::string& name) { return std::string(VORN_TEST_DATA) + "/" + name; }
std::string buildPath(const std::string& name) { return std::string(VORN_BUILD_DIR) + "/" + name; }

int run(const std::string& command, std::string* output) {
    std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    int status = pclose(pipe);
    if (output != nullptr) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testing_support

#include <csignal>
#include <sys/resource.h>

namespace testing_support {

int runInChild(int (*body)(void*), void* context, bool unprivileged, long fileSizeLimit) {
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (unprivileged && geteuid() == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(120);
        }
        if (fileSizeLimit >= 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit = {static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(121);
        }
        int status = body(context);
        std::fflush(stdout);
        std::fflush(stderr);
        _exit(status);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testing_support
