// A thousand calls of each method in one process leave the open descriptors
// and the resident memory where they were after the first few.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "tests/sweep/sweep_cases.h"

using namespace testing_support;

namespace {

long residentKilobytes() {
    long pages = 0, resident = 0;
    if (std::FILE* file = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(file, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(file);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Under valgrind, as under the sanitizers, freed blocks wait in a quarantine
// and loaded libraries keep their debug information, so resident memory says
// nothing about leaks there (memcheck's own leak check does).
[[maybe_unused]] bool underValgrind() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "vgpreload") != nullptr;
}

class Hygiene : public ::testing::TestWithParam<std::size_t> {};

TEST_P(Hygiene, AThousandCallsLeaveDescriptorsAndMemoryFlat) {
    const MethodCase& method = methodCases()[GetParam()];
    Recorder recorder;  // no box may reach a person, and none is expected
    TempDir work;
    TempDir temp;
    setenv("TMP", temp.path().c_str(), 1);
    auto callOnce = [&] {
        method.prepare(work.path());
        ::testing::internal::CaptureStdout();
        int result = method.call(work.path());
        ::testing::internal::GetCapturedStdout();
        // Reaped at once, so that no finished program is left a zombie.
        if (method.checkStarted != nullptr) {
            std::string problem = method.checkStarted(result);
            if (!problem.empty()) ADD_FAILURE() << problem;
        }
        return result;
    };
    for (int i = 0; i < 50; ++i) ASSERT_EQ(callOnce(), 1);
    int descriptors = openDescriptors();
    long resident = residentKilobytes();
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(callOnce(), 1) << "call " << i;
    EXPECT_EQ(openDescriptors(), descriptors);
    long growth = residentKilobytes() - resident;
    std::printf("%s: %d descriptors, resident %ld kB, growth %ld kB over 1000 calls\n", method.name, descriptors,
                resident, growth);
#if !VORN_SANITIZED
    if (!underValgrind()) {
        EXPECT_LT(growth, 4096) << "resident memory grew by " << growth << " kB";
    }
#endif
    EXPECT_TRUE(recorder.boxes().empty());
}

std::string caseName(const ::testing::TestParamInfo<std::size_t>& info) { return methodCases()[info.param].name; }

}  // namespace

INSTANTIATE_TEST_SUITE_P(Methods, Hygiene, ::testing::Range<std::size_t>(0, methodCases().size()), caseName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Hygiene);
