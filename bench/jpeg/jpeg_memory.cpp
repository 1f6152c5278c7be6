// Heap peak of one VornNative_saveJPEG call beyond the VM's array and the
// pixel block, and of the bare libjpeg-turbo compression for comparison.
// Every heap call of the process (the library's, libjpeg's, the C++
// runtime's) goes through the counting functions below.
#include <dlfcn.h>
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "bench/jpeg/picture.h"
#include "native/VornNative.h"
#include "vm/vm.h"

namespace {

std::atomic<long long> live{0};
std::atomic<long long> peak{0};

void added(void* block) {
    if (block == nullptr) return;
    long long now = live += static_cast<long long>(malloc_usable_size(block));
    long long seen = peak.load();
    while (now > seen && !peak.compare_exchange_weak(seen, now)) {
    }
}

void removed(void* block) {
    if (block != nullptr) live -= static_cast<long long>(malloc_usable_size(block));
}

// dlsym may ask for memory before the real functions are known.
alignas(64) char bootstrap[16384];
std::size_t bootstrapUsed = 0;
bool fromBootstrap(void* block) {
    return static_cast<char*>(block) >= bootstrap && static_cast<char*>(block) < bootstrap + sizeof bootstrap;
}
void* bootstrapAlloc(std::size_t bytes) {
    bytes = (bytes + 15) & ~std::size_t(15);
    if (bootstrapUsed + bytes > sizeof bootstrap) return nullptr;
    void* block = bootstrap + bootstrapUsed;
    bootstrapUsed += bytes;
    return block;  // zero: static storage
}

void* (*realMalloc)(std::size_t);
void (*realFree)(void*);
void* (*realCalloc)(std::size_t, std::size_t);
void* (*realRealloc)(void*, std::size_t);
void* (*realMemalign)(std::size_t, std::size_t);
int (*realPosixMemalign)(void**, std::size_t, std::size_t);
bool resolving = false;

void resolve() {
    if (realMalloc != nullptr || resolving) return;
    resolving = true;
    realCalloc = reinterpret_cast<void* (*)(std::size_t, std::size_t)>(dlsym(RTLD_NEXT, "calloc"));
    realFree = reinterpret_cast<void (*)(void*)>(dlsym(RTLD_NEXT, "free"));
    realRealloc = reinterpret_cast<void* (*)(void*, std::size_t)>(dlsym(RTLD_NEXT, "realloc"));
    realMemalign = reinterpret_cast<void* (*)(std::size_t, std::size_t)>(dlsym(RTLD_NEXT, "memalign"));
    realPosixMemalign = reinterpret_cast<int (*)(void**, std::size_t, std::size_t)>(dlsym(RTLD_NEXT, "posix_memalign"));
    realMalloc = reinterpret_cast<void* (*)(std::size_t)>(dlsym(RTLD_NEXT, "malloc"));
    resolving = false;
}

}  // namespace

#define VISIBLE __attribute__((visibility("default")))

extern "C" VISIBLE void* malloc(std::size_t bytes) {
    resolve();
    if (realMalloc == nullptr) return bootstrapAlloc(bytes);
    void* block = realMalloc(bytes);
    added(block);
    return block;
}

extern "C" VISIBLE void free(void* block) {
    if (block == nullptr || fromBootstrap(block)) return;
    removed(block);
    realFree(block);
}

extern "C" VISIBLE void* calloc(std::size_t count, std::size_t size) {
    resolve();
    if (realCalloc == nullptr) return bootstrapAlloc(count * size);
    void* block = realCalloc(count, size);
    added(block);
    return block;
}

extern "C" VISIBLE void* realloc(void* block, std::size_t bytes) {
    resolve();
    if (block != nullptr && fromBootstrap(block)) {
        void* moved = malloc(bytes);
        std::size_t available = static_cast<std::size_t>(bootstrap + sizeof bootstrap - static_cast<char*>(block));
        if (moved != nullptr) std::memcpy(moved, block, bytes < available ? bytes : available);
        return moved;
    }
    long long before = block != nullptr ? static_cast<long long>(malloc_usable_size(block)) : 0;
    void* moved = realRealloc(block, bytes);
    if (moved != nullptr || bytes == 0) live -= before;
    added(moved);
    return moved;
}

extern "C" VISIBLE void* memalign(std::size_t alignment, std::size_t bytes) {
    resolve();
    void* block = realMemalign(alignment, bytes);
    added(block);
    return block;
}

extern "C" VISIBLE void* aligned_alloc(std::size_t alignment, std::size_t bytes) { return memalign(alignment, bytes); }

extern "C" VISIBLE int posix_memalign(void** out, std::size_t alignment, std::size_t bytes) {
    resolve();
    int result = realPosixMemalign(out, alignment, bytes);
    if (result == 0) added(*out);
    return result;
}

namespace {

// Heap bytes at the peak of the call, above what was live before it.
template <typename Call>
long long peakOf(Call call) {
    long long before = live.load();
    peak = before;
    call();
    return peak.load() - before;
}

}  // namespace

int main() {
    BenchPicture picture;
    if (!makePicture("rose", "convert rose: -resize 4096x4096! -depth 8 ppm:-", picture)) {
        std::fprintf(stderr, "cannot make the picture with ImageMagick\n");
        return 1;
    }
    char folder[] = "/tmp/vorn-bench-jpeg-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    std::string ours = std::string(folder) + "/ours.jpg";
    std::string floor = std::string(folder) + "/floor.jpg";

    vm::IntArray array(static_cast<std::int32_t>(picture.values.size()));
    std::copy(picture.values.begin(), picture.values.end(), array.elements());
    vm::LocalString name(ours.c_str());
    long long rowBytes = 3LL * picture.width;
    long long block = ((rowBytes + 3) & ~3LL) * picture.height;

    int result = 0;
    long long oursPeak = peakOf([&] {
        result = VornNative_saveJPEG(0, name.handle(), array.handle(), picture.width, picture.height);
    });
    bool floorOk = false;
    long long floorPeak = peakOf([&] { floorOk = compressWithLibjpeg(picture, floor.c_str()); });
    std::remove(ours.c_str());
    std::remove(floor.c_str());
    rmdir(folder);
    if (result != 1 || !floorOk) {
        std::fprintf(stderr, "a compression failed\n");
        return 1;
    }

    long long beyond = oursPeak - block;
    std::printf("| heap peak of one call, %dx%d | bytes | rows of %lld bytes |\n|---|---|---|\n", picture.width,
                picture.height, rowBytes);
    std::printf("| VornNative_saveJPEG, whole | %lld | %.1f |\n", oursPeak, oursPeak / double(rowBytes));
    std::printf("| of which the pixel block | %lld | %.1f |\n", block, block / double(rowBytes));
    std::printf("| VornNative_saveJPEG beyond the pixel block | %lld | %.1f |\n", beyond, beyond / double(rowBytes));
    std::printf("| libjpeg-turbo floor (its own working memory) | %lld | %.1f |\n", floorPeak,
                floorPeak / double(rowBytes));
    return 0;
}
