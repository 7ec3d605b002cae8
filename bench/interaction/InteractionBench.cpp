// The engine's part of an interaction step on the painting session's scene
// (ten 8000 x 8000 layers): a layer moved by one pixel (the background, under
// nine layers in varied modes) or its opacity set (layer 5, half way up),
// marked as a change of that layer, then one paced compute up to its
// completion, as a frame does before it draws. Fitted (the whole canvas in a
// 3840 x 2160 view, composited at the level the view samples) and at 100 %
// (the 3840 x 2160 pixels in the middle). Beside it, in the same run: the same
// steps marked as anonymous changes (no kept composites), a full recomposite
// of the canvas and a parallel copy of the visible pixels.
#include "BenchSupport.hpp"
#include "Rendering/CanvasMipChain.hpp"
#include "Rendering/MetalHelper.hpp"
#include "Rendering/RenderedCanvas.hpp"
#include "Timing.hpp"
#include "engine/PaintingScene.hpp"

#include <benchmark/benchmark.h>
#include <chrono>
#include <vector>

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int steps = 40;
constexpr int64_t viewWidth = 3840, viewHeight = 2160;

std::shared_ptr<LayeredCanvas> sceneCanvas() {
    static const auto canvas = bench::scene::paintedCanvas();
    return canvas;
}

void run(RenderedCanvas& rendered) {
    const auto buffer = MetalHelper::shared()->commandQueue()->commandBuffer();
    rendered.compute(buffer);
    buffer->commit();
    buffer->waitUntilCompleted();
}

RenderedCanvas::Pacing pacingFor(bool fitted) {
    const int64_t side = bench::scene::side;
    if (fitted) {
        const double scale = double(viewHeight) / double(side) * 0.95;
        return {makeMTLRegion(0, 0, side, side), CanvasMipChain::levelFor(1.0 / scale)};
    }
    return {makeMTLRegion((side - viewWidth) / 2, (side - viewHeight) / 2, viewWidth, viewHeight),
            0};
}

// Milliseconds of each step, from its change to its compute's completion.
std::vector<double> stepTimes(RenderedCanvas& rendered, int kind, bool named) {
    const auto canvas = sceneCanvas();
    const auto layer = canvas->immediateLayers()[kind == 0 ? 0 : 5];
    std::vector<double> times;
    for (int i = 0; i < steps; ++i) {
        const auto t0 = Clock::now();
        const MTLRegion before = layer->boundingRect();
        if (kind == 0) {
            layer->moveContents({i % 2 == 0 ? 1 : -1, 0, 0});
        } else {
            layer->setOpacity(1.0f - 0.5f * float(i + 1) / float(steps));
        }
        const MTLRegion dirty = unionWith(before, layer->boundingRect());
        if (named) {
            rendered.needsUpdate(dirty, layer);
        } else {
            rendered.needsUpdate(dirty);
        }
        run(rendered);
        times.push_back(bench::ms(Clock::now() - t0));
    }
    layer->setOpacity(1);
    return times;
}

void BM_InteractionStep(benchmark::State& state) {
    const int kind = int(state.range(0));
    const bool fitted = state.range(1) != 0;
    const auto canvas = sceneCanvas();
    RenderedCanvas rendered(canvas);
    run(rendered);
    const RenderedCanvas::Pacing pacing = pacingFor(fitted);
    for (auto _ : state) {
        rendered.setPacing(pacing);
        const auto named = stepTimes(rendered, kind, true);
        const auto anonymous = stepTimes(rendered, kind, false);
        rendered.setPacing(std::nullopt);
        rendered.needsUpdate(makeMTLRegion(0, 0, bench::scene::side, bench::scene::side));
        const auto f0 = Clock::now();
        run(rendered);
        const double full = bench::ms(Clock::now() - f0);
        const size_t bytes = size_t(pacing.visible.size.width * pacing.visible.size.height) * 4;
        static std::vector<char> src(size_t(bench::scene::side) * bench::scene::side * 4, 1),
            dst(src.size(), 0);
        bench::parallelCopy(dst.data(), src.data(), bytes);
        const auto c0 = Clock::now();
        bench::parallelCopy(dst.data(), src.data(), bytes);
        const double copy = bench::ms(Clock::now() - c0);
        const double median = bench::percentile(named, 0.5);
        state.counters["level"] = pacing.level;
        state.counters["step_med_ms"] = median;
        state.counters["step_p99_ms"] = bench::percentile(named, 0.99);
        state.counters["anonymous_med_ms"] = bench::percentile(anonymous, 0.5);
        state.counters["recomposite_ms"] = full;
        state.counters["visible_copy_ms"] = copy;
        state.counters["step_to_recomposite"] = median / full;
        state.counters["step_to_visible_copy"] = median / copy;
        state.counters["step_to_anonymous"] = median / bench::percentile(anonymous, 0.5);
    }
}
BENCHMARK(BM_InteractionStep)
    ->ArgNames({"kind", "fitted"})
    ->ArgsProduct({{0, 1}, {1, 0}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

VELMORA_BENCH_MAIN()
