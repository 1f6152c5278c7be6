// For each method on a representative input: one run counts the allocations,
// opens, reads, writes, temporary names and program starts it makes; then for
// each of them one run makes that one fail, and one run that one and every
// later one of its kind. Every run must end without a crash or a leak, report
// 0 unless its output was made whole, show each box at most once, and leave
// the output either complete or exactly as it was, with no stray file and no
// descriptor open; a program it starts is started only on success.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#include "tests/sweep/sweep_cases.h"

using namespace testing_support;

namespace {

struct KindInfo {
    fault::Kind kind;
    const char* name;
    std::set<std::string> allowedBoxes;
};

const KindInfo kinds[] = {
    {fault::Kind::Alloc, "alloc", {"Error: Sorry, not enough memory", "Error: Gif decode workspace allocation"}},
    {fault::Kind::Open, "open", {}},
    {fault::Kind::Read, "read", {"Error: Cannot read file"}},
    {fault::Kind::Write, "write", {"Error: Cannot write file"}},
    {fault::Kind::TempName, "tempname", {}},
    {fault::Kind::Start, "start", {}},
};

std::vector<std::string> repeated(const std::vector<std::string>& items) {
    std::map<std::string, int> seen;
    std::vector<std::string> twice;
    for (const std::string& item : items)
        if (++seen[item] == 2) twice.push_back(item);
    return twice;
}

class FaultSweep : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FaultSweep, EveryFailurePointFailsCleanly) {
    const MethodCase& method = methodCases()[GetParam()];

    // The run without faults: what a whole output looks like, and how many
    // operations of each kind there are to fail.
    std::map<fault::Kind, long> points;
    std::string wholeOutput;
    std::vector<std::string> wholeFiles;
    {
        SweepRun run(method);
        Recorder recorder;
        fault::Scope faults;
        ::testing::internal::CaptureStdout();
        int result = method.call(run.work.path());
        ::testing::internal::GetCapturedStdout();
        for (const KindInfo& info : kinds) points[info.kind] = fault::count(info.kind);
        ASSERT_EQ(result, 1) << method.name << " fails without any fault";
        if (method.checkStarted != nullptr) {
            ASSERT_EQ(method.checkStarted(result), "");
        }
        ASSERT_TRUE(recorder.boxes().empty());
        wholeOutput = run.output(method);
        wholeFiles = sorted(run.work.list());
    }

    std::printf("%-16s %-9s %6s %6s\n", "method", "kind", "points", "passed");
    for (const KindInfo& info : kinds) {
        long passed = 0;
        for (long point = 1; point <= points[info.kind]; ++point) {
            // The point passes when it fails cleanly alone and with every
            // later one of its kind, as memory or a disk that stays exhausted.
            bool pointPassed = true;
            for (bool persist : {false, true}) {
                SCOPED_TRACE(std::string(method.name) + ": " + info.name + " #" + std::to_string(point) +
                             (persist ? " and on" : ""));
                SweepRun run(method);
                std::string oldContent = run.output(method);
                bool hadOutput = run.outputExists(method);
                std::vector<std::string> oldFiles = sorted(run.work.list());
                Recorder recorder;
                int result;
                std::string printed;
                int descriptors = openDescriptors();
                {
                    fault::Scope faults;
                    fault::failAt(info.kind, point, persist);
                    ::testing::internal::CaptureStdout();
                    result = method.call(run.work.path());
                    printed = ::testing::internal::GetCapturedStdout();
                }
                std::vector<std::string> problems;
                auto check = [&](bool ok, const std::string& problem) {
                    if (!ok) problems.push_back(problem);
                };
                check(result == 0 || result == 1, "result " + std::to_string(result));
                check(openDescriptors() == descriptors, "a descriptor was left open");
                if (method.checkStarted != nullptr) {
                    std::string problem = method.checkStarted(result);
                    check(problem.empty(), problem);
                }
                std::vector<std::string> files = sorted(run.work.list());
                if (result == 1) {
                    check(run.output(method) == wholeOutput, "reported success with an incomplete output");
                    check(files == wholeFiles, "a successful run left another file");
                } else if (!method.output.empty()) {
                    check(run.outputExists(method) == hadOutput, "a failed run made an output");
                    check(run.output(method) == oldContent, "a failed run changed the old output");
                    check(files == oldFiles, "a failed run left a file behind");
                }
                check(run.temp.list().empty(), "a temporary file was left behind");
                for (const std::string& box : repeated(recorder.boxes())) check(false, "box shown twice: " + box);
                for (const std::string& box : recorder.boxes())
                    check(info.allowedBoxes.count(box) != 0, "unexpected box: " + box);
                for (const std::string& line : repeated(splitLines(printed))) check(false, "line printed twice: " + line);
                for (const std::string& problem : problems) ADD_FAILURE() << problem;
                pointPassed = pointPassed && problems.empty();
            }
            passed += pointPassed;
        }
        std::printf("%-16s %-9s %6ld %6ld\n", method.name, info.name, points[info.kind], passed);
    }
}

std::string caseName(const ::testing::TestParamInfo<std::size_t>& info) { return methodCases()[info.param].name; }

}  // namespace

INSTANTIATE_TEST_SUITE_P(Methods, FaultSweep, ::testing::Range<std::size_t>(0, methodCases().size()), caseName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FaultSweep);
