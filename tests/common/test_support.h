// What every test needs: the boxes and traces a run produced, a scratch
// folder, and small file helpers.
#pragma once

#include <string>
#include <vector>

#include "platform/fault.h"

namespace testing_support {

// Records every message box and trace while it lives.
class Recorder {
public:
    Recorder();
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    const std::vector<std::string>& boxes() const;   // "caption: text"
    const std::vector<std::string>& traces() const;  // each traced text; null as "(null)"
    int boxCount(const std::string& text) const;     // boxes with caption "Error" and this text
    void clear();
};

// A fresh folder, removed with its contents at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return root; }
    std::string file(const std::string& name) const { return root + "/" + name; }
    // Names in the folder other than . and ..
    std::vector<std::string> list() const;

private:
    std::string root;
};

std::string readFile(const std::string& path);  // "" when missing
bool writeFile(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
std::string dataPath(const std::string& name);  // tests/data/name
std::string buildPath(const std::string& name);  // the build folder's name
// Runs a command line through the shell; returns its exit status and output.
int run(const std::string& command, std::string* output = nullptr);

}  // namespace testing_support

namespace testing_support {

// Runs body in a child process, as an unprivileged user when the tests run as
// root (so that permissions bind), with optional file size limit (SIGXFSZ
// ignored, so a write past it fails with EFBIG). Returns the child's exit
// status, or -1 when it died.
int runInChild(int (*body)(void*), void* context, bool unprivileged, long fileSizeLimit = -1);

}  // namespace testing_support
