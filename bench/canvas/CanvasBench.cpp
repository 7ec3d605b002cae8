#include "BenchSupport.hpp"
#include "Canvas/RasterLayer.hpp"
#include "Rendering/MetalHelper.hpp"
#include "coding/Coding.hpp"
#include "graphics/ColorManagement.hpp"

#include <benchmark/benchmark.h>
#include <chrono>
#include <vector>

using namespace velmora;

namespace {

constexpr int64_t side = 8000;

MetalHelper& helper() {
    return *MetalHelper::shared();
}

// Bytes read plus written per second of a parallel 256 MiB memcpy, measured
// right before each benchmark so that both see the same load.
double copyBandwidth() {
    return bench::copyBandwidth(size_t(256) << 20, 3);
}

std::shared_ptr<MTLTexture> texture(int64_t w, int64_t h, MTLPixelFormat format) {
    return helper().makeTexture({w, h, 1}, MTLTextureUsage::shaderReadWrite,
                                MTLStorageMode::private_, format, std::nullopt);
}

void fill(const std::shared_ptr<MTLTexture>& t) {
    helper().execute([&](MetalHelper& h, const std::shared_ptr<MTLCommandBuffer>& cb) {
        h.fill(t, *NSColor::colorWithSRGBRed(0.2, 0.4, 0.6, 0.8),
               {MTLOriginZero, {t->width(), t->height(), 1}}, cb);
    });
}

// A finished stroke's region pasted into the active layer of a full-size
// canvas: conversion from the float stroke texture, then the blit.
void BM_PasteStrokeRegion(benchmark::State& state) {
    const int64_t n = state.range(0);
    const double reference = copyBandwidth();
    const auto layer = RasterLayer::make(
        "Background", texture(side, side, MTLPixelFormat::rgba8Unorm), MTLOriginZero);
    fill(layer->patches()[0]->texture());
    const auto stroke = texture(side, side, MTLPixelFormat::rgba32Float);
    fill(stroke);
    const MTLRegion region{{1000, 1000, 0}, {n, n, 1}};
    for (auto _ : state) {
        helper().execute([&](MetalHelper&, const std::shared_ptr<MTLCommandBuffer>& cb) {
            layer->paste(stroke, region, cb);
        });
    }
    // Float read, 8-bit write and read, 8-bit write.
    const double bytes = double(n * n) * (16 + 4 + 4 + 4);
    state.counters["bytes/s vs copy"] =
        benchmark::Counter(bytes / reference, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_PasteStrokeRegion)->Arg(256)->Arg(2048)->Unit(benchmark::kMillisecond)->UseRealTime();

// Finding the patch for a stroke among many small patches.
void BM_PatchLookup(benchmark::State& state) {
    const int64_t count = state.range(0);
    const auto layer = RasterLayer::make("Sparse");
    const auto setup = helper().commandQueue()->commandBuffer();
    const int64_t perRow = 64;
    for (int64_t i = 0; i < count; ++i) {
        layer->patch(makeMTLRegion((i % perRow) * 128, (i / perRow) * 128, 64, 64), setup);
    }
    setup->commit();
    setup->waitUntilCompleted();
    const auto cb = helper().commandQueue()->commandBuffer();
    const MTLRegion inside =
        makeMTLRegion(((count - 1) % perRow) * 128 + 8, ((count - 1) / perRow) * 128 + 8, 32, 32);
    for (auto _ : state) {
        benchmark::DoNotOptimize(layer->patch(inside, cb));
    }
    cb->commit();
}
BENCHMARK(BM_PatchLookup)->Arg(64)->Arg(1024)->Unit(benchmark::kMicrosecond);

// Saving a layer of 16 patches of 512 x 512: unchanged patches reuse their
// TIFF bytes, changed ones are rendered and compressed again.
void BM_EncodeLayer(benchmark::State& state) {
    const bool changed = state.range(0) != 0;
    const double reference = copyBandwidth();
    const auto layer = RasterLayer::make("Layer");
    const auto bitmap =
        NSBitmapImageRep::makeRGBA8(512, 512, ColorManagement::workingNSColorSpace());
    for (int64_t y = 0; y < 512; ++y) {
        for (int64_t x = 0; x < 512 * 4; ++x) {
            bitmap->row(y)[x] = static_cast<uint8_t>((x * 7 + y * 3) / 64);
        }
    }
    for (int64_t i = 0; i < 16; ++i) {
        layer->paste(*bitmap, {(i % 4) * 512, (i / 4) * 512, 0});
    }
    const ValueEncoder encoder;
    benchmark::DoNotOptimize(encoder.encode(std::static_pointer_cast<Layer>(layer)));
    for (auto _ : state) {
        if (changed) {
            for (const auto& patch : layer->patches()) {
                patch->cachedTiffData.clear();
            }
        }
        benchmark::DoNotOptimize(encoder.encode(std::static_pointer_cast<Layer>(layer)));
    }
    const double bytes = 16.0 * 512 * 512 * 4;
    state.counters["pixels bytes/s vs copy"] =
        benchmark::Counter(bytes / reference, benchmark::Counter::kIsIterationInvariantRate);
    state.SetLabel(changed ? "every patch changed" : "unchanged");
}
BENCHMARK(BM_EncodeLayer)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

VELMORA_BENCH_MAIN()
