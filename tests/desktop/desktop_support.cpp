#include "tests/desktop/desktop_support.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/common/test_support.h"

namespace desktop_testing {
namespace {

long long nowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void sleepMs(long ms) {
    timespec interval{ms / 1000, (ms % 1000) * 1000000};
    nanosleep(&interval, nullptr);
}

}  // namespace

ScopedEnv::ScopedEnv(const char* variable, const char* value) : name(variable) {
    const char* current = std::getenv(variable);
    had = current != nullptr;
    if (had) old = current;
    if (value != nullptr) {
        setenv(variable, value, 1);
    } else {
        unsetenv(variable);
    }
}

ScopedEnv::~ScopedEnv() {
    if (had) {
        setenv(name.c_str(), old.c_str(), 1);
    } else {
        unsetenv(name.c_str());
    }
}

bool writeScript(const std::string& path, const std::string& body) {
    return testing_support::writeFile(path, body) && chmod(path.c_str(), 0755) == 0;
}

bool waitForFile(const std::string& path, int timeoutMs) {
    long long deadline = nowMs() + timeoutMs;
    while (!testing_support::fileExists(path)) {
        if (nowMs() > deadline) return false;
        sleepMs(10);
    }
    return true;
}

int runProgram(const std::vector<std::string>& argv, std::string* output, const std::string& input, int timeoutMs) {
    int in[2], out[2];
    if (pipe(in) != 0) return -1;
    if (pipe(out) != 0) return -1;
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(in[0]);
        close(in[1]);
        close(out[0]);
        close(out[1]);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    signal(SIGPIPE, SIG_IGN);
    fcntl(in[1], F_SETFL, O_NONBLOCK);
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    std::size_t sent = 0;
    if (input.empty()) {
        close(in[1]);
        in[1] = -1;
    }
    std::string text;
    long long deadline = nowMs() + timeoutMs;
    bool timedOut = false;
    for (;;) {
        pollfd fds[2] = {{out[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
        long long left = deadline - nowMs();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        if (poll(fds, in[1] >= 0 ? 2 : 1, static_cast<int>(left)) < 0 && errno != EINTR) break;
        if (in[1] >= 0 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t n = write(in[1], input.data() + sent, input.size() - sent);
            if (n > 0) sent += static_cast<std::size_t>(n);
            if (n < 0 && errno != EAGAIN) sent = input.size();
            if (sent == input.size()) {
                close(in[1]);
                in[1] = -1;
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[65536];
            ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n > 0) {
                text.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EAGAIN) {
                break;
            }
        }
    }
    if (in[1] >= 0) close(in[1]);
    close(out[0]);
    if (timedOut) kill(child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    if (output != nullptr) *output = text;
    if (timedOut) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string currentDirectory() {
    char path[8192];
    return getcwd(path, sizeof path) != nullptr ? path : "";
}

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

bool Recorder::make(const std::string& path, const std::string& recordBase) {
    program = path;
    argsFile = recordBase + ".args";
    cwdFile = recordBase + ".cwd";
    return writeScript(path,
                       "#!/bin/sh\n"
                       "{ printf '%s\\n' \"$#\"; for a in \"$@\"; do printf '%s\\0' \"$a\"; done; } > '" + argsFile +
                           ".tmp'\n"
                           "pwd -P > '" + cwdFile + ".tmp'\n"
                           "/bin/mv '" + cwdFile + ".tmp' '" + cwdFile + "'\n"
                           "/bin/mv '" + argsFile + ".tmp' '" + argsFile + "'\n");
}

bool Recorder::wait(std::vector<std::string>& args, std::string& cwd, int timeoutMs) const {
    args.clear();
    if (!waitForFile(argsFile, timeoutMs)) return false;
    std::string record = testing_support::readFile(argsFile);
    std::size_t newline = record.find('\n');
    if (newline == std::string::npos) return false;
    std::size_t count = std::strtoul(record.substr(0, newline).c_str(), nullptr, 10);
    std::size_t start = newline + 1;
    while (start < record.size()) {
        std::size_t end = record.find('\0', start);
        if (end == std::string::npos) return false;
        args.push_back(record.substr(start, end - start));
        start = end + 1;
    }
    cwd = testing_support::readFile(cwdFile);
    if (!cwd.empty() && cwd.back() == '\n') cwd.pop_back();
    return args.size() == count;
}

void Recorder::clear() const {
    unlink(argsFile.c_str());
    unlink(cwdFile.c_str());
}

XServer::XServer() {
    if (!onPath("Xvfb")) {
        problem_ = "Xvfb is not installed (Debian package xvfb)";
        return;
    }
    int fds[2];
    if (pipe(fds) != 0) {
        problem_ = "no pipe for Xvfb";
        return;
    }
    std::string fd = std::to_string(fds[1]);
    pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        int sink = open("/dev/null", O_RDWR);
        dup2(sink, 0);
        dup2(sink, 1);
        dup2(sink, 2);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", "320x240x24",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    if (child < 0) {
        close(fds[0]);
        problem_ = "cannot start Xvfb";
        return;
    }
    pid = child;
    std::string number;
    long long deadline = nowMs() + 30000;
    for (;;) {
        pollfd ready{fds[0], POLLIN, 0};
        long long left = deadline - nowMs();
        if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) <= 0) break;
        char c;
        if (read(fds[0], &c, 1) != 1 || c == '\n') break;
        number.push_back(c);
    }
    close(fds[0]);
    if (number.empty()) {
        problem_ = "Xvfb did not report a display";
        return;
    }
    display_ = ":" + number;
}

XServer::~XServer() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    }
}

}  // namespace desktop_testing

namespace desktop_testing {

bool makeDirs(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

bool writeTree(const std::string& path, const std::string& bytes) {
    return makeDirs(path.substr(0, path.rfind('/'))) && testing_support::writeFile(path, bytes);
}

XdgTree::XdgTree(const std::string& base)
    : root(base),
      data(base + "/data"),
      systemData(base + "/system"),
      config(base + "/config"),
      systemConfig(base + "/etc"),
      bin(base + "/bin"),
      home(base + "/home") {
    for (const std::string* dir : {&data, &systemData, &config, &systemConfig, &bin, &home}) makeDirs(*dir);
    std::string path = bin + ":/usr/bin:/bin";
    env.push_back(std::make_unique<ScopedEnv>("XDG_DATA_HOME", data.c_str()));
    env.push_back(std::make_unique<ScopedEnv>("XDG_DATA_DIRS", systemData.c_str()));
    env.push_back(std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", config.c_str()));
    env.push_back(std::make_unique<ScopedEnv>("XDG_CONFIG_DIRS", systemConfig.c_str()));
    env.push_back(std::make_unique<ScopedEnv>("XDG_CURRENT_DESKTOP", nullptr));
    env.push_back(std::make_unique<ScopedEnv>("HOME", home.c_str()));
    env.push_back(std::make_unique<ScopedEnv>("PATH", path.c_str()));
}

bool XdgTree::glob(const std::string& line, const std::string& dataDir) {
    std::string file = (dataDir.empty() ? data : dataDir) + "/mime/globs2";
    return writeTree(file, testing_support::readFile(file) + line + "\n");
}

bool XdgTree::entry(const std::string& id, const std::string& exec, const std::string& extra,
                    const std::string& dataDir) {
    return writeTree((dataDir.empty() ? data : dataDir) + "/applications/" + id,
                     "[Desktop Entry]\nType=Application\nName=" + id + "\nExec=" + exec + "\n" + extra);
}

bool XdgTree::program(const std::string& name) { return writeScript(bin + "/" + name, "#!/bin/sh\nexit 0\n"); }

}  // namespace desktop_testing
