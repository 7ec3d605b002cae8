#include "BenchSupport.hpp"
#include "Canvas/RasterLayer.hpp"
#include "Rendering/MetalHelper.hpp"
#include "Rendering/StrokeRenderer.hpp"
#include "foundation/MainQueue.hpp"
#include "foundation/UserDefaults.hpp"
#include "gpu/cpu/Workers.hpp"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <memory>
#include <numbers>
#include <omp.h>
#include <sys/resource.h>
#include <vector>

extern "C" {
#include <mypaint-fixed-tiled-surface.h>
#include <mypaint-surface.h>
}

using namespace velmora;

namespace {

constexpr int64_t canvasSide = 8000;
constexpr int dabCount = 2000;
constexpr double hardness = 0.5, opacity = 0.8;

// A recorded stroke: dabs spaced by a tenth of the radius (the default brush's
// spacing) along a looping curve that stays inside the canvas.
std::vector<StrokesViewModel::Dot> recordedStroke(double radius) {
    const auto color = NSColor::colorWithSRGBRed(0.8, 0.3, 0.1, 1);
    std::vector<StrokesViewModel::Dot> dots;
    const double spacing = 0.1 * radius;
    double t = 0;
    CGPoint last{4000, 4000};
    while (dots.size() < size_t(dabCount)) {
        const CGPoint p{4000 + 3000 * std::sin(t * 3.1), 4000 + 3000 * std::sin(t * 2.3 + 0.7)};
        if (dots.empty() || std::hypot(p.x - last.x, p.y - last.y) >= spacing) {
            dots.push_back({p, color, radius, hardness, opacity});
            last = p;
        }
        t += 1e-5;
    }
    return dots;
}

double dabPixels(double radius) {
    return dabCount * std::numbers::pi * (radius + 0.5) * (radius + 0.5);
}

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + 1e-6 * double(t.tv_usec);
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Engine {
    UserDefaults defaults{std::nullopt};
    DrawingSettings settings{defaults};
    std::shared_ptr<StrokesViewModel> queue = StrokesViewModel::make(settings);
    std::shared_ptr<StrokeRenderer> renderer =
        StrokeRenderer::make({MetalHelper::shared()->device(), MTLPixelFormat::bgra8Unorm}, queue,
                             {canvasSide, canvasSide, 1});
    std::shared_ptr<MTLTexture> destination = MetalHelper::shared()->makeTexture(
        {canvasSide, canvasSide, 1}, MTLTextureUsage::shaderReadWrite, MTLStorageMode::private_,
        drawingPixelFormat, "Active layer copy");

    // Seconds spent encoding on the calling thread, which no worker shares.
    double encodeSeconds = 0;

    void frame() {
        const auto t0 = std::chrono::steady_clock::now();
        const auto commandBuffer = MetalHelper::shared()->commandQueue()->commandBuffer();
        renderer->render(destination, commandBuffer);
        encodeSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        commandBuffer->commit();
        commandBuffer->waitUntilCompleted();
    }
};

Engine& engine() {
    static Engine e;
    return e;
}

// Stamping the recorded stroke into the stroke texture, as the frames of a stroke do.
void BM_StampStroke(benchmark::State& state) {
    const double radius = double(state.range(0));
    cpu::setWorkerThreadCount(int(state.range(1)));
    auto& e = engine();
    const auto dots = recordedStroke(radius);
    e.encodeSeconds = 0;
    const double cpuBefore = processCpuSeconds();
    for (auto _ : state) {
        e.queue->appendDots(dots);
        e.frame();
    }
    // Every thread's time, workers' waiting included: the work a frame costs
    // whatever else runs on the machine.
    state.counters["cpu_ms"] = benchmark::Counter((processCpuSeconds() - cpuBefore) * 1000,
                                                  benchmark::Counter::kAvgIterations);
    state.counters["dab_pixels_per_second"] = benchmark::Counter(
        dabPixels(radius) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["encode_ms"] =
        benchmark::Counter(e.encodeSeconds * 1000, benchmark::Counter::kAvgIterations);
    cpu::setWorkerThreadCount(0);
}

// The same dabs through libmypaint's tiled surface, 85 dabs per atomic operation.
void BM_LibMyPaintDrawDab(benchmark::State& state) {
    const double radius = double(state.range(0));
    omp_set_num_threads(int(state.range(1)));
    const auto dots = recordedStroke(radius);
    MyPaintFixedTiledSurface* fixed = mypaint_fixed_tiled_surface_new(canvasSide, canvasSide);
    MyPaintSurface* surface = mypaint_fixed_tiled_surface_interface(fixed);
    for (auto _ : state) {
        for (size_t i = 0; i < dots.size(); i += 85) {
            mypaint_surface_begin_atomic(surface);
            for (size_t j = i; j < std::min(dots.size(), i + 85); ++j) {
                const auto& d = dots[j];
                mypaint_surface_draw_dab(surface, float(d.position.x), float(d.position.y),
                                         float(d.radius), 0.8f, 0.3f, 0.1f, float(d.opacity),
                                         float(d.hardness), 1.0f, 1.0f, 0.0f, 0.0f, 0.0f);
            }
            MyPaintRectangle roi;
            mypaint_surface_end_atomic(surface, &roi);
        }
    }
    mypaint_surface_unref(surface);
    state.counters["dab_pixels_per_second"] = benchmark::Counter(
        dabPixels(radius) * double(state.iterations()), benchmark::Counter::kIsRate);
}

long minorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Pastes into a raster layer, as the drawing controller does.
class PastingDelegate : public StrokeRendererDelegate {
public:
    std::shared_ptr<RasterLayer> layer = RasterLayer::make("Background");
    std::shared_ptr<RasterLayer> strokeRendererPasteToActiveLayer(
        StrokeRenderer&, const std::shared_ptr<MTLTexture>& texture, const MTLRegion& region,
        const std::vector<MTLRegion>& tiles,
        const std::shared_ptr<MTLCommandBuffer>& commandBuffer) override {
        layer->paste(texture, region, tiles, commandBuffer);
        return layer;
    }
    void strokeRendererDidCommit(StrokeRenderer&, const std::shared_ptr<NSBitmapImageRep>&,
                                 const std::shared_ptr<NSBitmapImageRep>&, const MTLOrigin&,
                                 const std::vector<MTLRegion>&,
                                 const std::shared_ptr<RasterLayer>&) override {}
    void strokeRendererDidDrawIn(StrokeRenderer&, const MTLRegion&) override {}
    void strokeRendererDidBeginDrawing(StrokeRenderer&) override {}
    void strokeRendererDidEndDrawing(StrokeRenderer&) override {}
};

// Finishing a stroke whose bounds are 2000 x 2000: the blend into the layer copy,
// the snapshots of its tiles, the clear and the paste, then the commit.
void BM_FinishStroke(benchmark::State& state) {
    cpu::setWorkerThreadCount(int(state.range(0)));
    auto& e = engine();
    const auto delegate = std::make_shared<PastingDelegate>();
    e.renderer->setDelegate(delegate);
    const auto color = NSColor::colorWithSRGBRed(0.2, 0.5, 0.9, 1);
    const auto stampAndClose = [&] {
        e.queue->appendDots({{{1500, 1500}, color, 500, hardness, opacity},
                             {{2499, 2499}, color, 500, hardness, opacity}});
        e.frame();
        bool closed = false;
        e.queue->closeStroke([&] { closed = true; });
        MainQueue::runUntil([&] { return closed; }, std::chrono::seconds(10));
    };
    // Once untimed: the first stroke also makes the layer's patch and touches fresh pages.
    stampAndClose();
    e.frame();
    MainQueue::runUntilIdle();
    long faults = 0;
    double gpuSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        stampAndClose();
        const long before = minorFaults();
        state.ResumeTiming();
        const auto t0 = std::chrono::steady_clock::now();
        e.frame();
        gpuSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        MainQueue::runUntilIdle();
        faults += minorFaults() - before;
    }
    state.counters["minor_faults"] =
        benchmark::Counter(double(faults), benchmark::Counter::kAvgIterations);
    // The blend, snapshots, clear and paste on the timeline; the rest is the read-back.
    state.counters["blend_ms"] =
        benchmark::Counter(gpuSeconds * 1000, benchmark::Counter::kAvgIterations);
    e.renderer->setDelegate(nullptr);
    cpu::setWorkerThreadCount(0);
}

} // namespace

BENCHMARK(BM_StampStroke)
    ->ArgsProduct({{10, 50, 200}, {1, 8}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_LibMyPaintDrawDab)
    ->ArgsProduct({{10, 50, 200}, {1, 8}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_FinishStroke)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

VELMORA_BENCH_MAIN()
