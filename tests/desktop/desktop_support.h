// What the desktop tests share: environment changes undone at the end,
// scripts, waiting for a file a started program writes, running a program
// with an argument vector, and a private X server.
#pragma once

#include <string>
#include <vector>

namespace desktop_testing {

// Sets (or, with null, removes) an environment variable for its lifetime.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name;
    std::string old;
    bool had;
};

bool writeScript(const std::string& path, const std::string& body);
// True once path exists, false after timeoutMs.
bool waitForFile(const std::string& path, int timeoutMs = 20000);
// Runs argv (argv[0] searched on PATH) with input on its standard input;
// returns its exit status, -1 when it could not run or exceeded timeoutMs.
int runProgram(const std::vector<std::string>& argv, std::string* output = nullptr, const std::string& input = "",
               int timeoutMs = 60000);
std::string currentDirectory();
bool onPath(const std::string& program);

// A recording program: each run writes its arguments (zero-separated, after
// their count and a newline) and its working directory, then renames them
// into place, so that a file seen is whole.
struct Recorder {
    std::string program;     // the script
    std::string argsFile;    // written by each run
    std::string cwdFile;
    bool make(const std::string& path, const std::string& recordBase);
    bool wait(std::vector<std::string>& args, std::string& cwd, int timeoutMs = 20000) const;
    void clear() const;
};

// Xvfb on a display it picks itself (no clash with tests run beside it).
class XServer {
public:
    XServer();
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    bool running() const { return !display_.empty(); }
    const std::string& display() const { return display_; }
    const std::string& problem() const { return problem_; }

private:
    int pid = -1;
    std::string display_;
    std::string problem_;
};

}  // namespace desktop_testing

#include <memory>

namespace desktop_testing {

bool makeDirs(const std::string& path);
// Writes the file, making its directories.
bool writeTree(const std::string& path, const std::string& bytes);

// A desktop of its own under root: the XDG variables point into it, PATH is
// root/bin then the system's, while the object lives.
class XdgTree {
public:
    explicit XdgTree(const std::string& root);
    std::string root, data, systemData, config, systemConfig, bin, home;
    // A line of dataDir/mime/globs2 ("weight:type:pattern").
    bool glob(const std::string& line, const std::string& dataDir = "");
    bool entry(const std::string& id, const std::string& exec, const std::string& extra = "",
               const std::string& dataDir = "");
    bool program(const std::string& name);  // an executable in bin

private:
    std::vector<std::unique_ptr<ScopedEnv>> env;
};

}  // namespace desktop_testing
