#include "BenchSupport.hpp"
#include "gpu/MTLDevice.hpp"
#include "gpu/cpu/Workers.hpp"
#include "imaging/CIBlendKernel.hpp"
#include "imaging/CIContext.hpp"
#include "imaging/CIImage.hpp"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <pixman.h>
#include <string>
#include <tbb/parallel_for.h>
#include <utility>
#include <vector>

using namespace velmora;

namespace {

constexpr int64_t side = 8000;
constexpr size_t pixelCount = size_t(side) * size_t(side);
// Two layers read, one written.
constexpr double bytesPerBlend = double(pixelCount) * 12.0;

double seconds(const std::function<void()>& work, int repeats) {
    return bench::bestSeconds(work, repeats);
}

// CPU seconds of the whole process (all threads) spent in `work`: on a shared
// machine this counts only the time the work really ran.
double cpuSeconds(const std::function<void()>& work) {
    timespec a{}, b{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &a);
    work();
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &b);
    return double(b.tv_sec - a.tv_sec) + double(b.tv_nsec - a.tv_nsec) * 1e-9;
}

// Bytes read plus written per second of a parallel 1 GiB memcpy, measured once.
double copyBandwidth() {
    static const double bandwidth = bench::copyBandwidth();
    return bandwidth;
}

// Straight RGBA layers with varied alpha, so no mode takes an all-opaque shortcut.
std::shared_ptr<std::vector<uint8_t>> layer(uint32_t seed) {
    auto data = std::make_shared<std::vector<uint8_t>>(pixelCount * 4);
    uint32_t s = seed;
    for (size_t i = 0; i < pixelCount; ++i) {
        s = s * 1664525u + 1013904223u;
        uint8_t* p = data->data() + 4 * i;
        p[0] = uint8_t(s >> 24);
        p[1] = uint8_t(s >> 16);
        p[2] = uint8_t(s >> 8);
        p[3] = uint8_t((s >> 3) | 0x10);
    }
    return data;
}

// A painted layer: soft-edged round strokes on transparency, so mostly fully
// transparent or fully opaque with antialiased edges, as painted layers are.
std::shared_ptr<std::vector<uint8_t>> paintedLayer(uint32_t seed) {
    auto data = std::make_shared<std::vector<uint8_t>>(pixelCount * 4);
    constexpr int64_t cell = 256;
    constexpr double edge = 6.0;
    tbb::parallel_for(int64_t(0), side, [&](int64_t y) {
        uint32_t grain = uint32_t(y) * 2654435761u + seed;
        for (int64_t x = 0; x < side; ++x) {
            uint32_t h = uint32_t(x / cell) * 73856093u ^ uint32_t(y / cell) * 19349663u ^ seed;
            h = h * 1664525u + 1013904223u;
            const double cx = double(cell / 2 + int64_t(h >> 28)) - 8.0;
            const double cy = double(cell / 2 + int64_t((h >> 24) & 15)) - 8.0;
            const double radius = 60.0 + double((h >> 16) & 63);
            const double dx = double(x % cell) - cx, dy = double(y % cell) - cy;
            const double cover =
                std::clamp((radius - std::sqrt(dx * dx + dy * dy)) / edge, 0.0, 1.0);
            grain = grain * 1664525u + 1013904223u;
            uint8_t* p = data->data() + 4 * size_t(y * side + x);
            p[0] = uint8_t((x * 255 / side + (grain >> 29)) & 0xFF);
            p[1] = uint8_t((h >> 8) & 0xFF);
            p[2] = uint8_t(((x + y) / 40) & 0xFF);
            p[3] = uint8_t(std::lround(cover * 255.0));
        }
    });
    return data;
}

std::shared_ptr<MTLTexture> texture(const std::shared_ptr<std::vector<uint8_t>>& data) {
    auto d = MTLTextureDescriptor::texture2DDescriptor(MTLPixelFormat::rgba8Unorm, side, side);
    d.storageMode = MTLStorageMode::shared;
    d.usage = MTLTextureUsage::shaderReadWrite;
    auto t = MTLCreateSystemDefaultDevice()->newTexture(d);
    if (data) {
        t->replaceRegion(MTLRegionMake2D(0, 0, side, side), 0, data->data(), side * 4);
    }
    return t;
}

struct Layers {
    std::shared_ptr<std::vector<uint8_t>> fg, bg;
    std::shared_ptr<MTLTexture> fgTexture = texture(fg), bgTexture = texture(bg),
                                output = texture(nullptr);
};
// Uniformly random pixels (every class of alpha mixed in every vector), and
// two painted layers.
Layers& layers(bool painted) {
    if (painted) {
        static Layers l{paintedLayer(1), paintedLayer(2)};
        return l;
    }
    static Layers l{layer(1), layer(2)};
    return l;
}

const std::shared_ptr<const CIBlendKernel>& kernelNamed(const std::string& name) {
    static const std::map<std::string, const std::shared_ptr<const CIBlendKernel>& (*)()> all = {
        {"sourceOver", &CIBlendKernel::sourceOver}, {"sourceOut", &CIBlendKernel::sourceOut},
        {"multiply", &CIBlendKernel::multiply},     {"overlay", &CIBlendKernel::overlay},
        {"linearBurn", &CIBlendKernel::linearBurn}, {"linearDodge", &CIBlendKernel::linearDodge}};
    return all.at(name)();
}

// pixman on premultiplied copies of the same layers, single-threaded. It runs
// between our iterations so that both see the same load on the machine.
class Pixman {
public:
    Pixman(pixman_op_t op, const Layers& layers) : op_(op) {
        const auto premultiplied = [](const std::vector<uint8_t>& straight) {
            std::vector<uint32_t> out(pixelCount);
            for (size_t i = 0; i < pixelCount; ++i) {
                const uint8_t* p = straight.data() + 4 * i;
                const uint32_t a = p[3];
                const auto m = [a](uint32_t c) { return (c * a + 127) / 255; };
                out[i] = a << 24 | m(p[0]) << 16 | m(p[1]) << 8 | m(p[2]);
            }
            return out;
        };
        src_ = premultiplied(*layers.fg);
        initial_ = premultiplied(*layers.bg);
        dst_ = initial_;
        s_ = pixman_image_create_bits(PIXMAN_a8r8g8b8, side, side, src_.data(), side * 4);
        d_ = pixman_image_create_bits(PIXMAN_a8r8g8b8, side, side, dst_.data(), side * 4);
    }
    ~Pixman() {
        pixman_image_unref(s_);
        pixman_image_unref(d_);
    }
    // One composite of the whole layer (the destination restored first, untimed).
    // Wall and CPU seconds of one composite.
    std::pair<double, double> run() {
        std::memcpy(dst_.data(), initial_.data(), pixelCount * 4);
        double wall = 0;
        const double cpu = cpuSeconds([&] {
            wall = seconds(
                [&] {
                    pixman_image_composite32(op_, s_, nullptr, d_, 0, 0, 0, 0, 0, 0, side, side);
                },
                1);
        });
        return {wall, cpu};
    }

private:
    pixman_op_t op_;
    std::vector<uint32_t> src_, initial_, dst_;
    pixman_image_t* s_ = nullptr;
    pixman_image_t* d_ = nullptr;
};

void blendBenchmark(benchmark::State& state, const std::string& mode, pixman_op_t op,
                    bool hasPixman, bool painted) {
    const Layers& input = layers(painted);
    const int threads = int(state.range(0));
    const double copy = copyBandwidth();
    std::optional<Pixman> pixman;
    if (hasPixman) {
        pixman.emplace(op, input);
    }
    // Layer textures hold straight alpha: premultiplied as they are read, blended,
    // written back un-premultiplied, as the canvas compositing does.
    const CIImage fg = CIImage::withTexture(input.fgTexture)->premultiplyingAlpha();
    const CIImage bg = CIImage::withTexture(input.bgTexture)->premultiplyingAlpha();
    const CIImage blended = *kernelNamed(mode)->apply(fg, bg);
    const CIContext context;
    const auto queue = MTLCreateSystemDefaultDevice()->newCommandQueue();
    velmora::cpu::setWorkerThreadCount(threads);
    // One blend and one pixman composite a repetition, side by side, so both
    // see the same load; the repetitions give the median and the spread.
    double best = 1e30, pixmanBest = 1e30, cpuBest = 1e30, pixmanCpuBest = 1e30;
    for (auto _ : state) {
        double t = 0;
        const double cpu = cpuSeconds([&] {
            t = seconds(
                [&] {
                    const auto buffer = queue->commandBuffer();
                    CIRenderDestination destination(input.output, buffer);
                    destination.setAlphaMode(CIRenderDestinationAlphaMode::unpremultiplied);
                    context.startTask(blended, {{0, 0}, {double(side), double(side)}}, destination,
                                      {0, 0});
                    buffer->commit();
                    buffer->waitUntilCompleted();
                },
                1);
        });
        state.SetIterationTime(t);
        best = std::min(best, t);
        cpuBest = std::min(cpuBest, cpu);
        if (pixman) {
            state.PauseTiming();
            const auto [wall, pixmanCpu] = pixman->run();
            pixmanBest = std::min(pixmanBest, wall);
            pixmanCpuBest = std::min(pixmanCpuBest, pixmanCpu);
            state.ResumeTiming();
        }
    }
    velmora::cpu::setWorkerThreadCount(0);
    const double perIteration = best;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytesPerBlend));
    state.counters["GBps"] = bytesPerBlend / perIteration / 1e9;
    state.counters["vs_copy"] = bytesPerBlend / perIteration / copy;
    if (pixman) {
        const double pixmanPerIteration = pixmanBest;
        state.counters["pixman_GBps"] = bytesPerBlend / pixmanPerIteration / 1e9;
        state.counters["x_pixman"] = pixmanPerIteration / perIteration;
        // Single-threaded runs compared by CPU time too, which the load of a
        // shared machine disturbs less than wall time.
        if (threads == 1) {
            state.counters["x_pixman_cpu"] = pixmanCpuBest / cpuBest;
        }
    }
}

void registerAll() {
    struct Mode {
        const char* name;
        pixman_op_t op;
        bool hasPixman;
    } modes[] = {{"sourceOver", PIXMAN_OP_OVER, true}, {"multiply", PIXMAN_OP_MULTIPLY, true},
                 {"overlay", PIXMAN_OP_OVERLAY, true}, {"linearDodge", PIXMAN_OP_ADD, true},
                 {"sourceOut", PIXMAN_OP_OUT, true},   {"linearBurn", PIXMAN_OP_OVER, false}};
    for (const bool painted : {false, true}) {
        for (const Mode& m : modes) {
            benchmark::RegisterBenchmark(
                ((painted ? "BM_BlendPainted8000/" : "BM_Blend8000/") + std::string(m.name))
                    .c_str(),
                [m, painted](benchmark::State& s) {
                    blendBenchmark(s, m.name, m.op, m.hasPixman, painted);
                })
                ->Arg(1)
                ->Arg(8)
                ->ArgName("threads")
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime()
                ->Iterations(1);
        }
    }
}

} // namespace

static void BM_ParallelCopy1GiB(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(copyBandwidth());
    }
    state.counters["GBps"] = copyBandwidth() / 1e9;
}
BENCHMARK(BM_ParallelCopy1GiB)->Iterations(1);

int main(int argc, char** argv) {
    registerAll();
    return bench::runBenchmarks(argc, argv);
}
