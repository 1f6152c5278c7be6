// cab_host LIBRARY DIR CABNAME ENTRY...: loads the given libVornNative.so,
// calls its makeCab and prints "result N".
#include <cstdio>
#include <dlfcn.h>
#include <vector>

#include "vm/vm.h"

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::printf("dlopen: %s\n", dlerror());
        return 3;
    }
    using MakeCab = std::int32_t (*)(vm::Handle, vm::Handle, vm::Handle, vm::Handle);
    auto makeCab = reinterpret_cast<MakeCab>(dlsym(library, "VornNative_makeCab"));
    if (makeCab == nullptr) return 4;
    std::vector<vm::LocalString*> strings;
    std::vector<vm::Handle> handles;
    for (int i = 4; i < argc; ++i) {
        strings.push_back(new vm::LocalString(argv[i]));
        handles.push_back(strings.back()->handle());
    }
    vm::StringArray entries(handles.data(), static_cast<std::int32_t>(handles.size()));
    vm::LocalString directory(argv[2]);
    vm::LocalString name(argv[3]);
    std::int32_t result = makeCab(0, entries.handle(), directory.handle(), name.handle());
    std::printf("result %d\n", result);
    for (vm::LocalString* s : strings) delete s;
    dlclose(library);
    return 0;
}
