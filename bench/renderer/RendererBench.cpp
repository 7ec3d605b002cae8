#include "BenchSupport.hpp"
#include "Rendering/DisplayViewModel.hpp"
#include "Rendering/DrawingDrawable.hpp"
#include "Rendering/Renderer.hpp"
#include "gpu/HeadlessViewHost.hpp"
#include "gpu/MTKView.hpp"
#include "gpu/MTLDevice.hpp"
#include "gpu/cpu/Workers.hpp"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <vector>

using namespace velmora;

namespace {

constexpr int64_t canvasSide = 8000;
constexpr int64_t drawableWidth = 3840, drawableHeight = 2160;
constexpr size_t drawableBytes = size_t(drawableWidth) * drawableHeight * 4;

std::shared_ptr<MTLDevice> device() {
    static const auto d = [] {
        auto device = MTLCreateSystemDefaultDevice();
        device->setSynchronousCommandExecution(true);
        return device;
    }();
    return d;
}

// A painted-looking canvas: every byte written, so no page reads as untouched zero.
std::shared_ptr<MTLTexture> canvasTexture() {
    static const auto texture = [] {
        auto d = MTLTextureDescriptor::texture2DDescriptor(MTLPixelFormat::rgba8Unorm, canvasSide,
                                                           canvasSide);
        d.usage = MTLTextureUsage::shaderReadWrite;
        d.storageMode = MTLStorageMode::shared;
        auto t = device()->newTexture(d);
        std::vector<uint8_t> row(size_t(canvasSide) * 4);
        for (int64_t y = 0; y < canvasSide; ++y) {
            for (int64_t x = 0; x < canvasSide; ++x) {
                uint8_t* p = row.data() + x * 4;
                p[0] = uint8_t(x * 7 + y);
                p[1] = uint8_t(x ^ y);
                p[2] = uint8_t(y * 3);
                p[3] = 255;
            }
            t->replaceRegion(MTLRegionMake2D(0, y, canvasSide, 1), 0, row.data(), canvasSide * 4);
        }
        return t;
    }();
    return texture;
}

// Seconds of one plain memcpy of a drawable's bytes, best of a few, measured now.
double drawableCopySeconds() {
    static std::vector<uint8_t> src(drawableBytes, 1), dst(drawableBytes, 0);
    double best = 1e30;
    for (int i = 0; i < 5; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        std::memcpy(dst.data(), src.data(), drawableBytes);
        benchmark::DoNotOptimize(dst.data());
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

struct CanvasClient : RendererDrawable {
    std::shared_ptr<DrawingDrawable> drawable;
    std::shared_ptr<MTLTexture> texture;
    void render(MTLViewport viewport, const MTLRenderPassDescriptor& pass,
                const std::shared_ptr<MTLCommandBuffer>& buffer) override {
        drawable->render(texture, viewport, pass, *buffer);
    }
};

// Whole frames of the renderer: the canvas drawn through the display transform
// into a 4K drawable and presented to a host that keeps nothing.
void frames(benchmark::State& state, bool fit) {
    cpu::setWorkerThreadCount(int(state.range(0)));
    const auto source = canvasTexture();
    auto view = MTKView::make(device());
    auto host = std::make_shared<HeadlessViewHost>(false);
    view->setHost(host);
    view->setDrawableSize({double(drawableWidth), double(drawableHeight)});
    auto renderer = Renderer::make(view, device());
    auto model = std::make_shared<DisplayViewModel>();
    const CGSize fb{double(drawableWidth), double(drawableHeight)};
    const CGSize canvas{double(canvasSide), double(canvasSide)};
    model->resetTransform(fb, canvas, true);
    const CGPoint centre{canvasSide / 2.0, canvasSide / 2.0};
    if (!fit) {
        model->magnify(4.0 / model->transform().a, centre, true);
    }
    model->rotate(30, centre, true);
    auto client = std::make_shared<CanvasClient>();
    client->drawable = std::make_shared<DrawingDrawable>(renderer->settings(), model,
                                                         MTLSize{canvasSide, canvasSide, 1});
    client->texture = source;
    renderer->drawables.emplace_back(client);

    view->draw(); // warm the drawables' pages
    const double copy = drawableCopySeconds();
    const auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        view->draw();
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double frame = elapsed / double(std::max<int64_t>(1, state.iterations()));
    state.counters["fps"] = 1.0 / frame;
    state.counters["copy_ms"] = copy * 1e3;
    // Frame time over the time of one plain copy of the drawable's bytes.
    state.counters["frame_per_copy"] = frame / copy;
    state.counters["presented"] = double(host->presentedCount());
}

void BM_CanvasFrameFitRotated30(benchmark::State& state) {
    frames(state, true);
}
void BM_CanvasFrameZoom4Rotated30(benchmark::State& state) {
    frames(state, false);
}

BENCHMARK(BM_CanvasFrameFitRotated30)
    ->ArgName("threads")
    ->Arg(8)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_CanvasFrameZoom4Rotated30)
    ->ArgName("threads")
    ->Arg(8)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

VELMORA_BENCH_MAIN()
