#include "BenchSupport.hpp"
#include "Canvas/CanvasArchive.hpp"
#include "Canvas/RasterLayer.hpp"
#include "PaintedBitmap.hpp"
#include "Rendering/MetalHelper.hpp"
#include "graphics/ColorManagement.hpp"
#include "graphics/ImageCodecs.hpp"
#include "graphics/NSColor.hpp"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tbb/global_control.h>
#include <tbb/parallel_for.h>
#include <unistd.h>

using namespace velmora;

namespace {

constexpr int64_t side = 8000;
constexpr int layerCount = 4;

// CPU seconds of the whole process, all threads.
double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::shared_ptr<NSBitmapImageRep> painting(int seed) {
    return bench::paintedBitmap(side, seed);
}

struct Fixture {
    std::shared_ptr<LayeredCanvas> canvas;
    std::shared_ptr<CanvasPreviews> previews;
    RasterLayer::Patches patches;
    double oneEncode = 0; // seconds of one LZW TIFF encode of one layer (its strips in parallel)
    uint64_t layerBytes = 0;
};

Fixture& fixture() {
    static Fixture f = [] {
        Fixture f;
        Layers layers;
        for (int i = 0; i < layerCount; ++i) {
            const auto bitmap = painting(i);
            if (i == 0) {
                // The reference: what one layer costs to encode alone.
                ImageEncodingProperties properties;
                properties.compressionMethod = 5;
                properties.colorSyncProfileData = ColorManagement::workingColorSpace()->iccData();
                double best = 1e30;
                for (int r = 0; r < 2; ++r) {
                    const auto t0 = std::chrono::steady_clock::now();
                    const auto tiff =
                        ImageCodecs::encode(*bitmap, NSBitmapImageFileType::tiff, properties);
                    best = std::min(best, seconds(t0));
                    f.layerBytes = tiff.size();
                }
                f.oneEncode = best;
                f.previews = CanvasPreviews::makeStandardPreviews(bitmap);
            }
            auto layer = RasterLayer::make("Layer " + std::to_string(i + 1), *bitmap);
            f.patches.push_back(layer->patches()[0]);
            layers.push_back(std::move(layer));
        }
        f.canvas = LayeredCanvas::make({side, side, 1}, layers[0]);
        f.canvas->setImmediateLayers(layers);
        return f;
    }();
    return f;
}

std::filesystem::path documentPath() {
    return std::filesystem::temp_directory_path() /
           ("velmora-bench-" + std::to_string(::getpid()) + ".velmora");
}

void report(benchmark::State& state, double perIteration, uint64_t bytes) {
    const Fixture& f = fixture();
    state.counters["s"] = perIteration;
    state.counters["MB/s"] = double(bytes) / 1e6 / perIteration;
    // Above 1: faster than one single-threaded encode of one layer.
    state.counters["x_one_encode"] = f.oneEncode / perIteration;
    state.counters["one_encode_s"] = f.oneEncode;
}

void forgetCaches() {
    for (const auto& patch : fixture().patches) {
        patch->cachedTiffData.clear();
    }
}

// Every patch rendered again: the first save of a painted canvas.
void BM_SaveAllPatches(benchmark::State& state) {
    Fixture& f = fixture();
    double total = 0;
    for (auto _ : state) {
        forgetCaches();
        const auto t0 = std::chrono::steady_clock::now();
        CanvasArchive::write(documentPath(), *f.canvas, *f.previews);
        total += seconds(t0);
    }
    report(state, total / double(state.iterations()), std::filesystem::file_size(documentPath()));
}

// The same save on one thread, measured right after the parallel one in each
// repetition: the ratio is what the parallel work gains under the same load.
void BM_SaveAllPatchesParallelVsOneThread(benchmark::State& state) {
    Fixture& f = fixture();
    double parallel = 0, sequential = 0, parallelCpu = 0;
    for (auto _ : state) {
        forgetCaches();
        const double cpu0 = processCpuSeconds();
        auto t0 = std::chrono::steady_clock::now();
        CanvasArchive::write(documentPath(), *f.canvas, *f.previews);
        parallel += seconds(t0);
        parallelCpu += processCpuSeconds() - cpu0;
        forgetCaches();
        {
            const tbb::global_control one(tbb::global_control::max_allowed_parallelism, 1);
            t0 = std::chrono::steady_clock::now();
            CanvasArchive::write(documentPath(), *f.canvas, *f.previews);
            sequential += seconds(t0);
        }
    }
    report(state, parallel / double(state.iterations()),
           std::filesystem::file_size(documentPath()));
    state.counters["one_thread_s"] = sequential / double(state.iterations());
    state.counters["x_one_thread"] = sequential / parallel;
    // Threads busy on average during the parallel save: on a loaded machine
    // this, not x_one_thread, shows whether the save still runs in parallel.
    state.counters["busy_threads"] = parallelCpu / parallel;
}

// A small stroke on one layer, then a save: only that layer's patch is
// rendered, the others are checked and written as they were read.
void BM_SaveAfterSmallStroke(benchmark::State& state) {
    Fixture& f = fixture();
    CanvasArchive::write(documentPath(), *f.canvas, *f.previews);
    const auto stroke = MetalHelper::shared()->makeTexture(
        {side, side, 1}, MTLTextureUsage::shaderReadWrite, MTLStorageMode::private_,
        MTLPixelFormat::rgba32Float, std::nullopt);
    double total = 0;
    int64_t n = 0;
    for (auto _ : state) {
        const auto cb = MetalHelper::shared()->commandQueue()->commandBuffer();
        MetalHelper::shared()->fill(
            stroke, *NSColor::colorWithSRGBRed(0.1, 0.2, 0.3 + 0.01 * double(n++ % 50), 1),
            {{4000, 4000, 0}, {64, 64, 1}}, cb);
        std::static_pointer_cast<RasterLayer>(f.canvas->immediateLayers()[2])
            ->paste(stroke, {{4000, 4000, 0}, {64, 64, 1}}, cb);
        cb->commit();
        const auto t0 = std::chrono::steady_clock::now();
        CanvasArchive::write(documentPath(), *f.canvas, *f.previews);
        total += seconds(t0);
    }
    report(state, total / double(state.iterations()), std::filesystem::file_size(documentPath()));
}

// Nothing changed since the last save: checks and bytes only.
void BM_SaveUnchanged(benchmark::State& state) {
    Fixture& f = fixture();
    CanvasArchive::write(documentPath(), *f.canvas, *f.previews);
    double total = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        CanvasArchive::write(documentPath(), *f.canvas, *f.previews);
        total += seconds(t0);
    }
    report(state, total / double(state.iterations()), std::filesystem::file_size(documentPath()));
}

// The part of an unchanged save that checks the patches.
void BM_CheckUnchangedPatches(benchmark::State& state) {
    Fixture& f = fixture();
    RasterLayer::Patch::refreshCaches(f.patches);
    double total = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        RasterLayer::Patch::refreshCaches(f.patches);
        total += seconds(t0);
    }
    report(state, total / double(state.iterations()), uint64_t(layerCount) * side * side * 4);
}

// The part of every save that stores the previews as JPEG.
void BM_EncodePreviews(benchmark::State& state) {
    Fixture& f = fixture();
    double total = 0;
    uint64_t bytes = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const CodedValue tree = ValueEncoder().encode(*f.previews);
        total += seconds(t0);
        bytes = 0;
        for (const auto& jpeg : *tree.dictionary()->find("previews")->array()) {
            bytes += jpeg.data()->size();
        }
    }
    report(state, total / double(state.iterations()), bytes);
}

// Reading the saved document: the patches' pixels are decoded in parallel
// and uploaded; the canvas is ready to draw when the call returns.
void BM_Load(benchmark::State& state) {
    Fixture& f = fixture();
    CanvasArchive::write(documentPath(), *f.canvas, *f.previews);
    std::ifstream in(documentPath(), std::ios::binary);
    const std::vector<uint8_t> data{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
    double total = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        auto canvas = CanvasArchive::readCanvas(data);
        total += seconds(t0);
        benchmark::DoNotOptimize(canvas);
    }
    report(state, total / double(state.iterations()), data.size());
}

} // namespace

BENCHMARK(BM_SaveAllPatches)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_SaveAllPatchesParallelVsOneThread)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK(BM_SaveAfterSmallStroke)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_SaveUnchanged)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_CheckUnchangedPatches)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_EncodePreviews)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

int main(int argc, char** argv) {
    const int status = bench::runBenchmarks(argc, argv);
    std::filesystem::remove(documentPath());
    return status;
}
