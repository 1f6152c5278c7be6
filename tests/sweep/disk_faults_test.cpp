// Real disk faults instead of injected ones, for each method that makes a
// file, on its sample input and on one whose output takes many buffers: in a
// child process whose file size limit cuts the writes short at sizes below
// the whole output, and in one whose user may not write the output's folder.
// Each such run must report 0, leave the old output as it was (or none,
// where a partial cabinet goes with the old one) or no output where there
// was none, leave no stray or temporary file, and show each box and line at
// most once and only those a failed write gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include "tests/sweep/sweep_cases.h"

#if VORN_SANITIZED
#include <sanitizer/lsan_interface.h>
#endif

using namespace testing_support;

namespace {

// What a failed write may show, by method.
struct Expected {
    std::set<std::string> boxes;
    std::set<std::string> lines;
};

const std::map<std::string, Expected>& expectations() {
    static const std::map<std::string, Expected> table = {
        {"makeTransparent", {{"Error: Cannot write file"}, {}}},
        {"saveJPEG", {{"Error: Cannot write file"}, {"Error: Output file write error --- out of disk space?"}}},
        {"wav2au", {{"Error: Cannot write file"}, {}}},
        {"makeCab",
         {{},
          {"FCIAddFile() failed: code 4 [Could not create a temporary file]",
           "FCIFlushCabinet() failed: code 4 [Could not create a temporary file]",
           "FCIFlushFolder() failed: code 4 [Could not create a temporary file]",
           "FCIAddFile() failed: code 6 [Could not create cabinet file]",
           "FCIFlushCabinet() failed: code 6 [Could not create cabinet file]",
           "FCIFlushFolder() failed: code 6 [Could not create cabinet file]"}}},
    };
    return table;
}

// Inputs whose outputs take many buffers and blocks, laid over the case's
// own under the same names.
void fixTime(const std::string& path) {
    struct utimbuf times = {1700000000, 1700000000};
    utime(path.c_str(), &times);
}

std::string noise(std::size_t length, std::uint32_t seed) {
    std::string bytes(length, '\0');
    for (char& byte : bytes) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        byte = static_cast<char>(seed >> 24);
    }
    return bytes;
}

const std::map<std::string, void (*)(const std::string&)>& largeInputs() {
    static const std::map<std::string, void (*)(const std::string&)> table = {
        {"makeTransparent",
         [](const std::string& dir) { writeFile(dir + "/picture.gif", readFile(dataPath("gif/photo-640x480.gif"))); }},
        {"saveJPEG",
         [](const std::string& dir) {
             // Smooth shades under fine noise: neither a flat nor a random picture.
             const int width = 400, height = 300;
             std::string pixels = noise(static_cast<std::size_t>(width) * height * 3, 7);
             for (int y = 0; y < height; ++y)
                 for (int x = 0; x < width; ++x) {
                     char* at = &pixels[(static_cast<std::size_t>(y) * width + x) * 3];
                     at[0] = static_cast<char>(x * 255 / width + (at[0] & 15));
                     at[1] = static_cast<char>(y * 255 / height + (at[1] & 15));
                     at[2] = static_cast<char>((x + y) & 0xff);
                 }
             writeFile(dir + "/picture.ppm",
                       "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n" + pixels);
         }},
        {"wav2au",
         [](const std::string& dir) { writeFile(dir + "/sound.wav", readFile(dataPath("wav/speech-espeak.wav"))); }},
        {"makeCab",
         [](const std::string& dir) {
             std::string text;
             for (int i = 0; i < 20000; ++i) text += "entry " + std::to_string(i * 7919 % 100000) + " of a long list\n";
             writeFile(dir + "/a.txt", text);
             writeFile(dir + "/b.bin", noise(200000, 11));
             fixTime(dir + "/a.txt");
             fixTime(dir + "/b.bin");
         }},
    };
    return table;
}

bool writeAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + sent, bytes.size() - sent);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string readAll(int fd) {
    std::string bytes;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

struct ChildCall {
    const MethodCase* method;
    std::string dir;
    int reportFd;  // the result, a line, then each box on a line
    int printFd;   // what the method prints
};

constexpr int childLeaked = 3;

int callInChild(void* context) {
    auto* call = static_cast<ChildCall*>(context);
    Recorder recorder;
    // Pipes know neither the file size limit nor the folder's permissions.
    if (dup2(call->printFd, 1) < 0) return 2;
    int result = call->method->call(call->dir);
    std::fflush(stdout);
    std::string report = std::to_string(result) + "\n";
    for (const std::string& box : recorder.boxes()) report += box + "\n";
    if (!writeAll(call->reportFd, report)) return 2;
#if VORN_SANITIZED
    // The child ends with _exit, past the leak check at exit; one that
    // changed its user must be made traceable again for the check.
    prctl(PR_SET_DUMPABLE, 1);
    if (__lsan_do_recoverable_leak_check() != 0) return childLeaked;
#endif
    return 0;
}

struct Outcome {
    int status = -1;  // the child's: 0, or -1 when it died
    int result = -1;
    std::vector<std::string> boxes;
    std::vector<std::string> lines;
};

Outcome runLimited(const MethodCase& method, const std::string& dir, bool unprivileged, long limit) {
    Outcome outcome;
    int report[2], printed[2];
    if (pipe(report) != 0) return outcome;
    if (pipe(printed) != 0) {
        close(report[0]);
        close(report[1]);
        return outcome;
    }
    // Room for everything the child says before anyone reads it.
    fcntl(report[1], F_SETPIPE_SZ, 1 << 20);
    fcntl(printed[1], F_SETPIPE_SZ, 1 << 20);
    ChildCall call{&method, dir, report[1], printed[1]};
    outcome.status = runInChild(callInChild, &call, unprivileged, limit);
    close(report[1]);
    close(printed[1]);
    std::vector<std::string> reported = splitLines(readAll(report[0]));
    outcome.lines = splitLines(readAll(printed[0]));
    close(report[0]);
    close(printed[0]);
    if (!reported.empty()) {
        outcome.result = std::atoi(reported[0].c_str());
        outcome.boxes.assign(reported.begin() + 1, reported.end());
    }
    return outcome;
}

// A work folder for one run, readable by the unprivileged user, and a
// temporary folder it may write.
struct DiskRun : SweepRun {
    using SweepRun::SweepRun;
    void open() const {
        for (const std::string& name : work.list()) chmod(work.file(name).c_str(), 0644);
        chmod(work.path().c_str(), 0755);
        chmod(temp.path().c_str(), 0777);
    }
};

std::vector<std::size_t> fileMethods() {
    std::vector<std::size_t> indices;
    for (std::size_t i = 0; i < methodCases().size(); ++i)
        if (!methodCases()[i].output.empty()) indices.push_back(i);
    return indices;
}

class DiskFaults : public ::testing::TestWithParam<std::size_t> {};

TEST_P(DiskFaults, AShortDiskOrAClosedFolderLeavesTheOldOutput) {
    const MethodCase& method = methodCases()[GetParam()];
    auto expected = expectations().find(method.name);
    ASSERT_NE(expected, expectations().end()) << method.name << " has no expected failure messages";

    auto large = largeInputs().find(method.name);
    ASSERT_NE(large, largeInputs().end()) << method.name << " has no large input";
    struct Input {
        const char* label;
        void (*enlarge)(const std::string&);
        bool oldOutput;
    };
    std::vector<Input> inputs = {{"sample", nullptr, true}, {"large", large->second, true}};
    // Without an old output a failed run must leave none; makeTransparent's
    // output is its input.
    if (std::string(method.name) != "makeTransparent") inputs.push_back({"fresh", large->second, false});

    std::printf("%-16s %-7s %-10s %8s %6s %-7s %-6s %s\n", "method", "input", "limit", "size", "result", "output",
                "checks", "shown");
    for (const auto& input : inputs) {
        auto lay = [&](const DiskRun& run) {
            if (input.enlarge != nullptr) input.enlarge(run.work.path());
            if (!input.oldOutput) unlink(run.work.file(method.output).c_str());
            run.open();
        };
        long size;
        std::string wholeOutput;
        {
            DiskRun run(method);
            lay(run);
            Recorder recorder;
            ::testing::internal::CaptureStdout();
            int result = method.call(run.work.path());
            ::testing::internal::GetCapturedStdout();
            ASSERT_EQ(result, 1) << method.name << " fails without any limit on the " << input.label << " input";
            ASSERT_TRUE(recorder.boxes().empty());
            wholeOutput = readFile(run.work.file(method.output));
            size = static_cast<long>(wholeOutput.size());
            ASSERT_GT(size, 2);
        }

        struct Limit {
            std::string label;
            long bytes;  // -1: no limit
            bool unprivileged;
        };
        std::vector<Limit> limits;
        std::set<long> seen;
        for (long bytes : {0L, 1L, 300L, size / 4, size / 2, size - 1})
            if (bytes < size && seen.insert(bytes).second) limits.push_back({std::to_string(bytes), bytes, false});
        limits.push_back({"read-only", -1, true});
        // Exactly enough: the limit alone makes no run fail.
        limits.push_back({"whole", size, false});

        for (const Limit& limit : limits) {
            SCOPED_TRACE(std::string(method.name) + ", " + input.label + " input, limit " + limit.label);
            DiskRun run(method);
            lay(run);
            const std::string output = run.work.file(method.output);
            std::string oldContent = readFile(output);
            std::vector<std::string> oldFiles = sorted(run.work.list());
            if (limit.unprivileged) chmod(run.work.path().c_str(), 0555);
            Outcome outcome = runLimited(method, run.work.path(), limit.unprivileged, limit.bytes);
            chmod(run.work.path().c_str(), 0755);

            std::vector<std::string> problems;
            auto check = [&](bool ok, const std::string& problem) {
                if (!ok) problems.push_back(problem);
            };
            check(outcome.status != childLeaked, "the child leaked memory");
            check(outcome.status == 0, "the child ended with status " + std::to_string(outcome.status));
            bool whole = limit.bytes == size;
            check(outcome.result == (whole ? 1 : 0), "result " + std::to_string(outcome.result));
            std::vector<std::string> files = sorted(run.work.list());
            if (whole) {
                std::vector<std::string> expectedFiles = oldFiles;
                if (!input.oldOutput) {
                    expectedFiles.push_back(method.output);
                    expectedFiles = sorted(expectedFiles);
                }
                check(readFile(output) == wholeOutput, "the output is not the whole one");
                check(files == expectedFiles, "a successful run left another file");
                check(outcome.boxes.empty(), "a successful run showed a box");
            } else {
                check(readFile(output) == oldContent, "a failed run changed the old output");
                check(files == oldFiles, "a failed run left a file behind");
            }
            check(run.temp.list().empty(), "a temporary file was left behind");
            std::map<std::string, int> boxes, lines;
            for (const std::string& box : outcome.boxes) ++boxes[box];
            for (const std::string& line : outcome.lines) ++lines[line];
            for (const auto& [box, times] : boxes) {
                check(times == 1, "box shown " + std::to_string(times) + " times: " + box);
                check(expected->second.boxes.count(box) != 0, "unexpected box: " + box);
            }
            for (const auto& [line, times] : lines) {
                check(times == 1, "line printed " + std::to_string(times) + " times: " + line);
                check(expected->second.lines.count(line) != 0, "unexpected line: " + line);
            }
            for (const std::string& problem : problems) ADD_FAILURE() << problem;
            std::string shown;
            for (const std::string& text : outcome.boxes) shown += (shown.empty() ? "" : " | ") + text;
            for (const std::string& text : outcome.lines) shown += (shown.empty() ? "" : " | ") + text;
            std::string kept = !fileExists(output)     ? (input.oldOutput ? "removed" : "none")
                               : !input.oldOutput         ? "new"
                               : readFile(output) == oldContent ? "old"
                                                                : "new";
            std::printf("%-16s %-7s %-10s %8ld %6d %-7s %-6s %s\n", method.name, input.label, limit.label.c_str(), size,
                        outcome.result, kept.c_str(), problems.empty() ? "passed" : "FAILED", shown.c_str());
        }
    }
}

std::string caseName(const ::testing::TestParamInfo<std::size_t>& info) { return methodCases()[info.param].name; }

}  // namespace

INSTANTIATE_TEST_SUITE_P(Methods, DiskFaults, ::testing::ValuesIn(fileMethods()), caseName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(DiskFaults);
