// VornNative_saveJPEG against bare libjpeg-turbo on the same 4096 x 4096
// pictures. Ours is timed from the VM's array to the closed file; the floor
// starts from BGR rows that are already there.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <unistd.h>

#include "bench/jpeg/picture.h"
#include "image/jpeg_image.h"
#include "native/VornNative.h"
#include "vm/vm.h"

namespace {

const struct {
    const char* name;
    const char* command;
} sources[] = {
    {"rose", "convert rose: -resize 4096x4096! -depth 8 ppm:-"},
    {"plasma", "convert -seed 1 -size 4096x4096 plasma:fractal -depth 8 ppm:-"},
    // A camera's grain: the detail that a real photograph of this size has
    // and the smooth enlargements lack.
    {"grain", "convert -seed 1 rose: -resize 4096x4096! -attenuate 0.5 +noise Gaussian -depth 8 ppm:-"},
};

std::string scratch;  // the folder the files go to

void saveJpeg(benchmark::State& state, const BenchPicture* picture) {
    vm::IntArray array(static_cast<std::int32_t>(picture->values.size()));
    std::copy(picture->values.begin(), picture->values.end(), array.elements());
    vm::LocalString name((scratch + "/ours.jpg").c_str());
    for (auto _ : state) {
        if (VornNative_saveJPEG(0, name.handle(), array.handle(), picture->width, picture->height) != 1) {
            state.SkipWithError("VornNative_saveJPEG failed");
            break;
        }
    }
}

// The part of ours that the floor does not do: the pixel block and the
// array's conversion into it.
void storeOnly(benchmark::State& state, const BenchPicture* picture) {
    for (auto _ : state) {
        JpegImage image;
        image.setFormat(picture->width, picture->height, RasterImage::colourKind);
        if (image.allocatePixels() != 1) {
            state.SkipWithError("no pixel block");
            break;
        }
        image.storePixels(picture->values.data());
        benchmark::DoNotOptimize(image.pixels[0]);
    }
}

void libjpegFloor(benchmark::State& state, const BenchPicture* picture) {
    std::string path = scratch + "/floor.jpg";
    for (auto _ : state) {
        if (!compressWithLibjpeg(*picture, path.c_str())) {
            state.SkipWithError("libjpeg compression failed");
            break;
        }
    }
}

// Collects the medians and prints the table once everything has run.
class TableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[run.run_name.function_name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
    }
    struct Times {
        double real = 0, cpu = 0;  // milliseconds
    };
    std::map<std::string, Times> medians;
};

}  // namespace

int main(int argc, char** argv) {
    char folder[] = "/tmp/vorn-bench-jpeg-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    scratch = folder;

    static BenchPicture pictures[std::size(sources)];
    for (std::size_t i = 0; i < std::size(sources); ++i) {
        if (!makePicture(sources[i].name, sources[i].command, pictures[i])) {
            std::fprintf(stderr, "cannot make the %s picture with ImageMagick\n", sources[i].name);
            return 1;
        }
        const BenchPicture* picture = &pictures[i];
        benchmark::RegisterBenchmark(("saveJPEG/" + picture->name).c_str(), saveJpeg, picture)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Repetitions(5);
        benchmark::RegisterBenchmark(("store/" + picture->name).c_str(), storeOnly, picture)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Repetitions(5);
        benchmark::RegisterBenchmark(("libjpeg/" + picture->name).c_str(), libjpegFloor, picture)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Repetitions(5);
    }

    benchmark::Initialize(&argc, argv);
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // Medians of five repetitions; wall time, and the thread's processor time
    // (which other work on a shared machine disturbs less).
    std::printf("\n| picture | VornNative_saveJPEG ms (wall / cpu) | libjpeg-turbo floor ms (wall / cpu) | ratio (wall / cpu) "
                "| of ours: block and conversion ms (wall / cpu) |\n|---|---|---|---|---|\n");
    for (const BenchPicture& picture : pictures) {
        TableReporter::Times ours = reporter.medians["saveJPEG/" + picture.name];
        TableReporter::Times floor = reporter.medians["libjpeg/" + picture.name];
        TableReporter::Times store = reporter.medians["store/" + picture.name];
        if (ours.real > 0 && floor.real > 0 && floor.cpu > 0)
            std::printf("| %s %dx%d | %.1f / %.1f | %.1f / %.1f | %.3f / %.3f | %.1f / %.1f |\n", picture.name.c_str(),
                        picture.width, picture.height, ours.real, ours.cpu, floor.real, floor.cpu,
                        ours.real / floor.real, ours.cpu / floor.cpu, store.real, store.cpu);
    }
    std::remove((scratch + "/ours.jpg").c_str());
    std::remove((scratch + "/floor.jpg").c_str());
    rmdir(folder);
    return 0;
}
