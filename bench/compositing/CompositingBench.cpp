#include "BenchSupport.hpp"
#include "Canvas/GroupLayer.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Canvas/RasterLayer.hpp"
#include "Rendering/LiveRenderedCanvas.hpp"
#include "Rendering/MetalHelper.hpp"
#include "gpu/cpu/Workers.hpp"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <ctime>
#include <vector>

using namespace velmora;

namespace {

constexpr int64_t side = 8000;
constexpr size_t pixelCount = size_t(side) * size_t(side);
constexpr int64_t liveSide = 256;

// Bytes read plus written per second of a parallel 1 GiB memcpy, measured
// right before the case that divides by it.
double copyBandwidth() {
    return bench::copyBandwidth();
}

// A fully painted layer: varied colour and alpha in every pixel, so no blend
// takes an opaque or empty shortcut.
std::shared_ptr<RasterLayer> paintedLayer(int index, BlendMode mode) {
    auto texture = MetalHelper::shared()->makeTexture(
        {side, side, 1}, MTLTextureUsage::shaderReadWrite, MTLStorageMode::private_,
        MTLPixelFormat::rgba8Unorm, "layer " + std::to_string(index));
    const MTLTextureContents contents = texture->contents();
    cpu::parallelRows(0, side, [&](int64_t y0, int64_t y1) {
        for (int64_t y = y0; y < y1; ++y) {
            uint8_t* row = contents.row(y);
            uint32_t s = uint32_t(y * 2654435761u + uint32_t(index) * 40503u);
            for (int64_t x = 0; x < side; ++x) {
                s = s * 1664525u + 1013904223u;
                row[4 * x] = uint8_t(s >> 24);
                row[4 * x + 1] = uint8_t(s >> 16);
                row[4 * x + 2] = uint8_t(s >> 8);
                row[4 * x + 3] = uint8_t((s >> 3) | 0x20);
            }
        }
    });
    auto layer = RasterLayer::make("Layer " + std::to_string(index), texture, MTLOriginZero);
    layer->setBlendMode(mode);
    return layer;
}

struct Scene {
    std::shared_ptr<LayeredCanvas> canvas;
    std::shared_ptr<RasterLayer> stroke;
    std::shared_ptr<LiveRenderedCanvas> rendered;
};

// Ten painted layers, three of them in a group at half opacity; the stroke
// layer is a canvas-sized float texture, as the stroke renderer keeps it.
Scene& scene() {
    static Scene s = [] {
        const BlendMode modes[] = {BlendMode::sourceOver,  BlendMode::multiply,
                                   BlendMode::overlay,     BlendMode::linearBurn,
                                   BlendMode::linearDodge, BlendMode::sourceOver,
                                   BlendMode::eraser,      BlendMode::overlay,
                                   BlendMode::multiply,    BlendMode::sourceOver};
        Layers top;
        Layers grouped;
        for (int i = 0; i < 10; ++i) {
            auto layer = paintedLayer(i, modes[i]);
            (i >= 4 && i < 7 ? grouped : top).push_back(layer);
            if (i == 6) {
                auto g = GroupLayer::make("Group");
                g->setImmediateLayers(grouped);
                g->setOpacity(0.5f);
                top.push_back(g);
            }
        }
        Scene result;
        result.canvas = LayeredCanvas::make({side, side, 1});
        result.canvas->setImmediateLayers(top);
        result.canvas->setActiveLayer(top.back());
        auto strokeTexture = MetalHelper::shared()->makeTexture(
            {side, side, 1}, MTLTextureUsage::shaderReadWrite, MTLStorageMode::private_,
            MTLPixelFormat::rgba32Float, "stroke");
        const MTLTextureContents contents = strokeTexture->contents();
        for (int64_t y = 1000; y < 1000 + liveSide; ++y) {
            auto* row = reinterpret_cast<float*>(contents.row(y));
            for (int64_t x = 1000; x < 1000 + liveSide; ++x) {
                row[4 * x] = 0.2f;
                row[4 * x + 1] = 0.4f;
                row[4 * x + 2] = 0.6f;
                row[4 * x + 3] = float(x % 7) / 6.0f;
            }
        }
        result.stroke = RasterLayer::make("stroke", strokeTexture, MTLOriginZero);
        result.rendered = std::make_shared<LiveRenderedCanvas>(result.canvas, result.stroke);
        return result;
    }();
    return s;
}

// CPU seconds of all threads of the process so far.
double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void composite(RenderedCanvas& rendered, const MTLRegion& region) {
    rendered.needsUpdate(region);
    const auto buffer = MetalHelper::shared()->commandQueue()->commandBuffer();
    rendered.compute(buffer);
    buffer->commit();
    buffer->waitUntilCompleted();
}

void measure(benchmark::State& state, const MTLRegion& region, double bytesPerPixel) {
    cpu::setWorkerThreadCount(int(state.range(0)));
    Scene& s = scene();
    composite(*s.rendered, region); // intermediates made, pages touched
    // The reference is measured again in every repetition, right before the case.
    const double bandwidth = copyBandwidth();
    double total = 0, cpu = 0;
    for (auto _ : state) {
        const double c0 = processSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        composite(*s.rendered, region);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cpu += processSeconds() - c0;
    }
    const double perIteration = total / double(state.iterations());
    const double bytes = double(region.size.width * region.size.height) * bytesPerPixel;
    state.counters["copy_ms"] = bytes / bandwidth * 1e3;
    state.counters["x_copy"] = perIteration / (bytes / bandwidth);
    // The CPU time spread over the workers, as the wall time would be if
    // nothing else ran on the machine: less disturbed by a shared machine.
    state.counters["x_copy_cpu"] =
        cpu / double(state.iterations()) / double(state.range(0)) / (bytes / bandwidth);
    cpu::setWorkerThreadCount(0);
}

// Ten 8-bit layers and the float stroke texture over the active layer read,
// the output written.
void BM_FullRecomposite8000(benchmark::State& state) {
    measure(state, makeMTLRegion(0, 0, side, side), 11.0 * 4.0 + 16.0);
}
BENCHMARK(BM_FullRecomposite8000)
    ->Arg(8)
    ->ArgName("threads")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// The same ten layers and the float stroke texture read, the output written.
void BM_LiveRecomposite256(benchmark::State& state) {
    measure(state, makeMTLRegion(1000, 1000, liveSide, liveSide), 11.0 * 4.0 + 16.0);
}
BENCHMARK(BM_LiveRecomposite256)
    ->Arg(1)
    ->Arg(8)
    ->ArgName("threads")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(20);

} // namespace

VELMORA_BENCH_MAIN()
