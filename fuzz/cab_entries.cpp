// The cabinet builder's entry list: the input is split at line feeds into
// entries ("+" among them), a few of which name files that exist; the build
// runs in a scratch folder and whatever cabinet it makes must be whole.
#include <climits>
#include <cstdint>
#include <dlfcn.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "cabinet/cabinet_builder.h"

namespace {

std::string scratch;

// The builder unloads the cabinet library after each build; the fuzzer's
// coverage counters inside it must stay mapped, so one reference is held.
void holdCabinetLibrary() {
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return;
    self[length] = '\0';
    std::string folder(self, std::strrchr(self, '/') - self);
    if (dlopen((folder + "/libCABINET.so").c_str(), RTLD_NOW | RTLD_NODELETE) == nullptr)
        dlopen("libCABINET.so", RTLD_NOW | RTLD_NODELETE);
}

void setUp() {
    holdCabinetLibrary();
    char pattern[] = "/tmp/vorn-fuzz-cab-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    scratch = pattern;
    setenv("TMP", scratch.c_str(), 1);
    const char* names[] = {"a", "b.gif", "c au", "d\xc3\xa9", "+x", "++"};
    for (std::size_t i = 0; i < sizeof names / sizeof *names; ++i) {
        std::string path = scratch + "/" + names[i];
        FILE* file = std::fopen(path.c_str(), "wb");
        for (std::size_t n = 0; n < i * 9000; ++n) std::fputc(static_cast<int>((n * 7 + i) % 251), file);
        std::fclose(file);
    }
    mkdir((scratch + "/sub").c_str(), 0755);
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();  // the builder's lines
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (scratch.empty()) setUp();
    std::vector<std::string> entries(1);
    for (std::size_t i = 0; i < size && entries.size() < 64; ++i) {
        if (data[i] == '\n') entries.emplace_back();
        else if (data[i] != 0) entries.back() += static_cast<char>(data[i]);
    }
    if (size == 0) entries.clear();
    std::vector<char*> list;
    for (std::string& entry : entries) list.push_back(entry.data());
    char errorText[errorTextSize];
    std::string cabinet = scratch + "/out.cab";
    unlink(cabinet.c_str());
    int result = buildCabinetInDirectory(static_cast<std::int32_t>(list.size()), list.data(), (scratch + "/").c_str(),
                                         "out.cab", errorText);
    if (std::memchr(errorText, 0, sizeof errorText) == nullptr) std::abort();
    struct stat info;
    bool exists = stat(cabinet.c_str(), &info) == 0;
    if (result == 1 && (!exists || info.st_size < 36)) std::abort();  // success means a cabinet
    if (result == 0 && exists) std::abort();                          // failure leaves none
    return 0;
}
