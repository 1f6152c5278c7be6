// One representative call of each native method, with what its output must
// look like after a run that succeeded and after one that failed.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/common/test_support.h"

struct MethodCase {
    const char* name;
    // The file whose state is checked, relative to the work folder; empty
    // when the method makes no file.
    std::string output;
    // Lays out the inputs and an old output file in the work folder.
    void (*prepare)(const std::string& dir);
    int (*call)(const std::string& dir);
    // For a method that starts a program instead of making a file: reaps
    // what the last call started and says what was wrong with it given the
    // call's result (empty when nothing). Null for the others.
    std::string (*checkStarted)(int result);
};

const std::vector<MethodCase>& methodCases();

// Descriptors this process holds open.
int openDescriptors();

// The old content every prepared output starts with.
extern const char oldOutput[];

// The lines of a text, without their line ends.
std::vector<std::string> splitLines(const std::string& text);
// The names in order, to compare folder listings.
std::vector<std::string> sorted(std::vector<std::string> names);

// The scratch folders of one run: the work folder and the one TMP names.
struct SweepRun {
    testing_support::TempDir work;
    testing_support::TempDir temp;
    explicit SweepRun(const MethodCase& method) {
        setenv("TMP", temp.path().c_str(), 1);
        method.prepare(work.path());
    }
    std::string output(const MethodCase& method) const {
        return method.output.empty() ? "" : testing_support::readFile(work.file(method.output));
    }
    bool outputExists(const MethodCase& method) const {
        return !method.output.empty() && testing_support::fileExists(work.file(method.output));
    }
};
