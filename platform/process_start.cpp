#include "platform/process_start.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/fault.h"

extern char** environ;

namespace process {
namespace {

std::vector<char*> argumentVector(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// Descriptors the started program must not inherit. The exec closes them,
// so an error pipe marked the same way still reports a failed exec.
void closeOthersOnExec() {
#ifdef CLOSE_RANGE_CLOEXEC
    close_range(3, ~0u, CLOSE_RANGE_CLOEXEC);
#endif
}

// Ignored signals and the blocked mask survive an exec: the started program
// gets the defaults, not what its host chose for itself.
void defaultSignals() {
    for (int signal = 1; signal < NSIG; ++signal)
        if (signal != SIGKILL && signal != SIGSTOP) std::signal(signal, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

long long nowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void pause(long ms) {
    timespec interval{0, ms * 1000000};
    nanosleep(&interval, nullptr);
}

pid_t waitFor(pid_t child, int* status, int options) {
    pid_t result;
    do result = waitpid(child, status, options);
    while (result < 0 && errno == EINTR);
    return result;
}

}  // namespace

bool isExecutableFile(const std::string& path) {
    struct stat info;
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string findProgram(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return isExecutableFile(name) ? name : std::string();
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        if (isExecutableFile(candidate)) return candidate;
        start = end + 1;
    }
    return {};
}

int startDetached(const std::string& path, const std::vector<std::string>& args, const std::string& directory) {
    // Everything the children use is made before the fork: after it only
    // async-signal-safe calls run.
    std::vector<char*> argv = argumentVector(args);
    const char* program = path.c_str();
    const char* workDir = directory.empty() ? nullptr : directory.c_str();
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return errno;
    int input = open("/dev/null", O_RDONLY | O_CLOEXEC);

    // Both forks are counted here: the child's count would be its own.
    bool childForks = !fault::shouldFail(fault::Kind::Start);
    bool programForks = childForks && !fault::shouldFail(fault::Kind::Start);
    pid_t child = childForks ? fork() : (errno = EAGAIN, -1);
    if (child < 0) {
        int error = errno;
        close(report[0]);
        close(report[1]);
        if (input >= 0) close(input);
        return error;
    }
    if (child == 0) {
        close(report[0]);
        int error = 0;
        pid_t grandchild = programForks ? fork() : (errno = EAGAIN, -1);
        if (grandchild != 0) {
            if (grandchild < 0) {
                error = errno;
                (void)!write(report[1], &error, sizeof error);
            }
            _exit(0);
        }
        setsid();
        defaultSignals();
        if (workDir != nullptr && chdir(workDir) != 0) {
            error = errno;
        } else {
            if (input >= 0) dup2(input, 0);
            closeOthersOnExec();
            execve(program, argv.data(), environ);
            error = errno;
        }
        (void)!write(report[1], &error, sizeof error);
        _exit(127);
    }
    close(report[1]);
    if (input >= 0) close(input);
    waitFor(child, nullptr, 0);
    int error = 0;
    ssize_t got;
    do got = read(report[0], &error, sizeof error);
    while (got < 0 && errno == EINTR);
    close(report[0]);
    return got == static_cast<ssize_t>(sizeof error) ? (error != 0 ? error : EIO) : 0;
}

int runWithInput(const std::string& path, const std::vector<std::string>& args, const char* input,
                 std::size_t length, int timeoutMs) {
    std::vector<char*> argv = argumentVector(args);
    const char* program = path.c_str();
    // A socket rather than a pipe: a send with MSG_NOSIGNAL to a program that
    // has gone raises no SIGPIPE in the caller's process.
    int channel[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0) return -1;
    int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_t child = fault::shouldFail(fault::Kind::Start) ? (errno = EAGAIN, -1) : fork();
    if (child < 0) {
        close(channel[0]);
        close(channel[1]);
        if (sink >= 0) close(sink);
        return -1;
    }
    if (child == 0) {
        setsid();
        defaultSignals();
        dup2(channel[1], 0);
        if (sink >= 0) {
            dup2(sink, 1);
            dup2(sink, 2);
        }
        closeOthersOnExec();
        execve(program, argv.data(), environ);
        _exit(127);
    }
    close(channel[1]);
    if (sink >= 0) close(sink);

    long long deadline = nowMs() + timeoutMs;
    int out = channel[0];
    fcntl(out, F_SETFL, fcntl(out, F_GETFL) | O_NONBLOCK);
    std::size_t sent = 0;
    while (sent < length) {
        long long left = deadline - nowMs();
        if (left <= 0) break;
        pollfd ready{out, POLLOUT, 0};
        int polled = poll(&ready, 1, static_cast<int>(left));
        if (polled < 0 && errno != EINTR) break;
        if (polled <= 0) continue;
        ssize_t n = send(out, input + sent, length - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            break;
        }
    }
    close(out);

    int status = 0;
    for (;;) {
        pid_t done = waitFor(child, &status, WNOHANG);
        if (done == child) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0) return -1;
        if (nowMs() >= deadline) break;
        pause(5);
    }
    kill(child, SIGKILL);
    waitFor(child, &status, 0);
    return -1;
}

}  // namespace process
