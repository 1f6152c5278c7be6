// GIF decoding and encoding, ours against giflib, on the same pictures in
// one run. The pictures are made with ImageMagick at start-up.
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/gif_image.h"

namespace {

struct Picture {
    const char* label;
    const char* makeCommand;  // ImageMagick, %s the output
    std::string path;
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;  // top row first
    std::vector<GifColorType> colours;
};

Picture pictures[] = {
    {"photo 4096x4096", "convert rose: -resize 4096x4096! -colors 256 %s", {}, 0, 0, {}, {}},
    {"photo 640x480", "convert rose: -resize 640x480! -colors 256 %s", {}, 0, 0, {}, {}},
};

std::string scratch;

bool prepare() {
    char folder[] = "/tmp/gif_bench_XXXXXX";
    if (mkdtemp(folder) == nullptr) return false;
    scratch = folder;
    for (Picture& p : pictures) {
        p.path = scratch + "/" + std::to_string(&p - pictures) + ".gif";
        char command[512];
        std::snprintf(command, sizeof command, p.makeCommand, p.path.c_str());
        if (std::system(command) != 0) return false;
        GifImage image;
        if (image.read(p.path.c_str(), 0) != 1) return false;
        p.width = image.width;
        p.height = image.height;
        for (int y = 0; y < p.height; ++y) {
            const std::uint8_t* row = image.pixelAddress(0, y);
            p.pixels.insert(p.pixels.end(), row, row + p.width);
        }
        for (int i = 0; i < 256; ++i)
            p.colours.push_back({image.palette[3 * i], image.palette[3 * i + 1], image.palette[3 * i + 2]});
    }
    return true;
}

void countPixels(benchmark::State& state, const Picture& p) {
    double pixels = static_cast<double>(p.width) * p.height;
    state.counters["MP/s"] = benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void decodeOurs(benchmark::State& state, const Picture* p) {
    for (auto _ : state) {
        GifImage image;
        if (image.read(p->path.c_str(), 0) != 1) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(image.pixels);
    }
    countPixels(state, *p);
}

void decodeGiflib(benchmark::State& state, const Picture* p) {
    for (auto _ : state) {
        int error = 0;
        GifFileType* file = DGifOpenFileName(p->path.c_str(), &error);
        if (file == nullptr || DGifSlurp(file) != GIF_OK) state.SkipWithError("giflib read failed");
        benchmark::DoNotOptimize(file->SavedImages[0].RasterBits);
        DGifCloseFile(file, &error);
    }
    countPixels(state, *p);
}

void encodeOurs(benchmark::State& state, const Picture* p) {
    GifImage image;
    image.setFormat(p->width, p->height, RasterImage::paletteKind);
    image.allocatePixels();
    image.allocatePalette();
    std::memcpy(image.palette, p->colours.data(), 768);
    for (int y = 0; y < p->height; ++y)
        std::memcpy(image.pixelAddress(0, y), p->pixels.data() + static_cast<std::size_t>(y) * p->width,
                    static_cast<std::size_t>(p->width));
    image.hasTransparent = 1;
    image.transparentIndex = p->pixels[0];
    std::string out = scratch + "/ours.gif";
    for (auto _ : state)
        if (image.save(out.c_str()) != 1) state.SkipWithError("save failed");
    countPixels(state, *p);
}

// giflib given the rows in the same interlaced order, with the same
// transparent colour.
void encodeGiflib(benchmark::State& state, const Picture* p) {
    std::string out = scratch + "/giflib.gif";
    std::vector<int> order;
    for (int pass = 0; pass < 4; ++pass)
        for (int y = gifPassStart[pass]; y < p->height; y += gifPassStep[pass]) order.push_back(y);
    for (auto _ : state) {
        int error = 0;
        GifFileType* file = EGifOpenFileName(out.c_str(), false, &error);
        ColorMapObject* map = GifMakeMapObject(256, p->colours.data());
        EGifSetGifVersion(file, true);
        EGifPutScreenDesc(file, p->width, p->height, 8, 0, map);
        GraphicsControlBlock control = {0, false, 0, p->pixels[0]};
        GifByteType extension[4];
        EGifGCBToExtension(&control, extension);
        EGifPutExtension(file, GRAPHICS_EXT_FUNC_CODE, 4, extension);
        EGifPutImageDesc(file, 0, 0, p->width, p->height, true, nullptr);
        for (int y : order)
            EGifPutLine(file, const_cast<GifPixelType*>(p->pixels.data() + static_cast<std::size_t>(y) * p->width),
                        p->width);
        if (EGifCloseFile(file, &error) != GIF_OK) state.SkipWithError("giflib write failed");
        GifFreeMapObject(map);
    }
    countPixels(state, *p);
}

}  // namespace

int main(int argc, char** argv) {
    if (!prepare()) {
        std::fprintf(stderr, "gif_bench: cannot make the pictures (ImageMagick convert)\n");
        return 1;
    }
    for (const Picture& p : pictures) {
        std::string label = p.label;
        benchmark::RegisterBenchmark(("decode/ours/" + label).c_str(), decodeOurs, &p)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("decode/giflib/" + label).c_str(), decodeGiflib, &p)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("encode/ours/" + label).c_str(), encodeOurs, &p)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("encode/giflib/" + label).c_str(), encodeGiflib, &p)->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::system(("rm -rf " + scratch).c_str());
    return 0;
}
