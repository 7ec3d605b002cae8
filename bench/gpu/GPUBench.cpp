#include "BenchSupport.hpp"
#include "MetalExtensions/MTLCommandBufferExtensions.hpp"
#include "gpu/MPSImageConversion.hpp"
#include "gpu/MTLDevice.hpp"
#include "gpu/cpu/Workers.hpp"

#include <array>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <functional>
#include <vector>

using namespace velmora;

namespace {

constexpr int64_t side = 8000;
constexpr double pixels = double(side) * double(side);

// Bytes read plus written per second of a parallel 1 GiB memcpy, measured once.
double copyBandwidth() {
    static const double bandwidth = bench::copyBandwidth();
    return bandwidth;
}

std::shared_ptr<MTLDevice> device() {
    static const auto d = [] {
        auto device = MTLCreateSystemDefaultDevice();
        device->setSynchronousCommandExecution(true);
        return device;
    }();
    return d;
}

std::shared_ptr<MTLTexture> texture(MTLPixelFormat format) {
    auto d = MTLTextureDescriptor::texture2DDescriptor(format, side, side);
    d.usage = MTLTextureUsage::shaderReadWrite;
    return device()->newTexture(d);
}

void fill(const std::shared_ptr<MTLTexture>& t, std::array<float, 4> colour) {
    static const auto pipeline =
        device()->newComputePipelineState(device()->newDefaultLibrary()->newFunction("fill"));
    const std::array<uint32_t, 2> origin{0, 0}, size{uint32_t(side), uint32_t(side)};
    auto cb = device()->newCommandQueue()->commandBuffer();
    compute(*cb, "Fill", [&](MTLComputeCommandEncoder& e) {
        e.setComputePipelineState(pipeline);
        e.setTexture(t, 0);
        e.setBytes(colour.data(), 16, 1);
        e.setBytes(origin.data(), 8, 2);
        e.setBytes(size.data(), 8, 3);
        dispatchThreadgroupsForWorkingOn(e, *t);
    });
    cb->commit();
    cb->waitUntilCompleted();
}

// The copy measured again right before a benchmark, so that both see the same
// load on a shared machine.
double copyBandwidthNow() {
    return bench::copyBandwidth(size_t(1) << 30, 3);
}

// Runs `work` per iteration and reports bytes read plus written against the copy.
void measure(benchmark::State& state, double bytes, const std::function<void()>& work) {
    const double reference = copyBandwidthNow();
    cpu::setWorkerThreadCount(int(state.range(0)));
    double total = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        work();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    cpu::setWorkerThreadCount(0);
    const double bandwidth = bytes * double(state.iterations()) / total;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
    state.counters["GBps"] = bandwidth / 1e9;
    state.counters["copy_GBps"] = reference / 1e9;
    state.counters["vs_copy"] = bandwidth / reference;
}

void BM_Fill8000_rgba8(benchmark::State& state) {
    auto t = texture(MTLPixelFormat::rgba8Unorm);
    fill(t, {0.2f, 0.4f, 0.6f, 0.8f});
    measure(state, pixels * 4, [&] { fill(t, {0.9f, 0.1f, 0.5f, 1.0f}); });
}

void BM_Copy8000_rgba8(benchmark::State& state) {
    auto a = texture(MTLPixelFormat::rgba8Unorm), b = texture(MTLPixelFormat::rgba8Unorm);
    fill(a, {0.2f, 0.4f, 0.6f, 0.8f});
    fill(b, {0.1f, 0.1f, 0.1f, 0.1f});
    measure(state, pixels * 8, [&] {
        auto cb = device()->newCommandQueue()->commandBuffer();
        blit(*cb, "Copy", [&](MTLBlitCommandEncoder& e) { e.copyFromTexture(a, b); });
        cb->commit();
        cb->waitUntilCompleted();
    });
}

void BM_Convert8000_rgba32Float_to_rgba8(benchmark::State& state) {
    auto a = texture(MTLPixelFormat::rgba32Float), b = texture(MTLPixelFormat::rgba8Unorm);
    fill(a, {0.2f, 0.4f, 0.6f, 0.8f});
    fill(b, {0.1f, 0.1f, 0.1f, 0.1f});
    const MPSImageConversion conversion(device(), MPSAlphaType::nonPremultiplied,
                                        MPSAlphaType::nonPremultiplied, std::nullopt, std::nullopt);
    measure(state, pixels * (16 + 4), [&] {
        auto cb = device()->newCommandQueue()->commandBuffer();
        conversion.encode(*cb, a, b);
        cb->commit();
        cb->waitUntilCompleted();
    });
}

} // namespace

static void BM_ParallelCopy1GiB(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(copyBandwidth());
    }
    state.counters["GBps"] = copyBandwidth() / 1e9;
}
BENCHMARK(BM_ParallelCopy1GiB)->Iterations(1);
BENCHMARK(BM_Fill8000_rgba8)
    ->Arg(1)
    ->Arg(8)
    ->ArgName("threads")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0);
BENCHMARK(BM_Copy8000_rgba8)
    ->Arg(1)
    ->Arg(8)
    ->ArgName("threads")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0);
BENCHMARK(BM_Convert8000_rgba32Float_to_rgba8)
    ->Arg(1)
    ->Arg(8)
    ->ArgName("threads")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0);

VELMORA_BENCH_MAIN()
