#include "BenchSupport.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Canvas/RasterLayer.hpp"
#include "Rendering/DisplayViewModel.hpp"
#include "Rendering/DrawingDrawable.hpp"
#include "Rendering/DrawingSettings.hpp"
#include "Rendering/LiveRenderedCanvas.hpp"
#include "Rendering/MetalHelper.hpp"
#include "Rendering/OpaqueRenderedLayer.hpp"
#include "Rendering/Renderer.hpp"
#include "Rendering/StrokeRenderer.hpp"
#include "Rendering/StrokesViewModel.hpp"
#include "Timing.hpp"
#include "engine/PaintingScene.hpp"
#include "foundation/MainQueue.hpp"
#include "foundation/UserDefaults.hpp"
#include "gpu/CAMetalDrawable.hpp"
#include "gpu/MTKView.hpp"
#include "gpu/MTKViewHost.hpp"
#include "gpu/cpu/Workers.hpp"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <sys/resource.h>
#include <vector>

using namespace velmora;
using Clock = std::chrono::steady_clock;

// A painting session as an artist has it: an 8000 x 8000 canvas of ten painted
// layers shown fitted in a 4K view, and ten-second strokes of radius 40
// replayed in real time at 240 samples a second while the view's own clock
// draws the frames, one stroke a repetition on the same canvas. Reports per-frame times, the time
// from a sample's enqueue to the presented frame that first shows what it drew, the time a finished
// stroke takes to be blended and handed over, the longest frame after its commit
// (commit_max_ms), the minor page faults of a stroke and the peak resident memory.
namespace {

using bench::ms;
using bench::percentile;
using bench::scene::paintedCanvas;
using bench::scene::side;
constexpr double sampleRate = 240;
constexpr double strokeSeconds = 10;

// Keeps when each drawable was shown.
class TimingHost final : public MTKViewHost {
public:
    void displayDrawable(std::shared_ptr<CAMetalDrawable> drawable) override {
        std::lock_guard lock(mutex);
        shown[drawable->drawableID()] = Clock::now();
    }
    std::mutex mutex;
    std::map<uint64_t, Clock::time_point> shown;
};

// The drawing controller's part in a frame, timed.
class Controller final : public RendererComputable,
                         public RendererDrawable,
                         public StrokeRendererDelegate,
                         public std::enable_shared_from_this<Controller> {
public:
    struct Frame {
        Clock::time_point start;
        Clock::duration encode{};
        std::shared_ptr<std::atomic<int64_t>> computeStart =
            std::make_shared<std::atomic<int64_t>>(0);
        std::shared_ptr<std::atomic<int64_t>> computeDone =
            std::make_shared<std::atomic<int64_t>>(0);
        uint64_t drawableID = 0;
        int samplesShown = 0; // samples whose dots this frame stamped first
    };

    void compute(const std::shared_ptr<MTLCommandBuffer>& buffer) override {
        Frame f;
        f.start = Clock::now();
        f.samplesShown = samplesReady - samplesStamped;
        samplesStamped = samplesReady;
        // When the timeline reaches this frame's compute work.
        buffer->encodeHostCommand(
            "Frame start",
            [start = f.computeStart] { start->store(Clock::now().time_since_epoch().count()); },
            {});
        strokeRenderer->render(renderedLayer->texture(), buffer);
        f.encode = Clock::now() - f.start;
        buffer->addCompletedHandler([done = f.computeDone](MTLCommandBuffer&) {
            done->store(Clock::now().time_since_epoch().count());
        });
        frames.push_back(f);
    }
    void render(MTLViewport viewport, const MTLRenderPassDescriptor& pass,
                const std::shared_ptr<MTLCommandBuffer>& buffer) override {
        if (!frames.empty()) {
            frames.back().drawableID = view->currentDrawable()->drawableID();
        }
        drawable->render(renderedCanvas->texture(), viewport, pass, *buffer);
    }
    std::shared_ptr<RasterLayer>
    strokeRendererPasteToActiveLayer(StrokeRenderer&, const std::shared_ptr<MTLTexture>& texture,
                                     const MTLRegion& region, const std::vector<MTLRegion>& tiles,
                                     const std::shared_ptr<MTLCommandBuffer>& buffer) override {
        auto layer = std::static_pointer_cast<RasterLayer>(canvas->activeLayer());
        layer->paste(texture, region, tiles, buffer);
        return layer;
    }
    void strokeRendererDidCommit(StrokeRenderer&, const std::shared_ptr<NSBitmapImageRep>&,
                                 const std::shared_ptr<NSBitmapImageRep>&, const MTLOrigin&,
                                 const std::vector<MTLRegion>&,
                                 const std::shared_ptr<RasterLayer>&) override {
        committedAt = Clock::now();
    }
    void strokeRendererDidDrawIn(StrokeRenderer&, const MTLRegion& region) override {
        renderedCanvas->needsUpdate(region);
        if (liveScope == nullptr) {
            renderer->needsDisplay();
        }
    }
    void strokeRendererDidCommitIn(StrokeRenderer&, const MTLRegion&,
                                   const std::vector<MTLRegion>& tiles) override {
        renderedCanvas->needsUpdateIn(tiles);
        if (liveScope == nullptr) {
            renderer->needsDisplay();
        }
    }
    void strokeRendererDidBeginDrawing(StrokeRenderer&) override {
        liveScope = renderer->makeLiveScope();
    }
    void strokeRendererDidEndDrawing(StrokeRenderer&) override {
        liveScope = nullptr;
        endedAt = Clock::now();
    }

    std::shared_ptr<LayeredCanvas> canvas;
    std::shared_ptr<MTKView> view;
    std::shared_ptr<Renderer> renderer;
    std::shared_ptr<DrawingDrawable> drawable;
    std::shared_ptr<StrokeRenderer> strokeRenderer;
    std::shared_ptr<LiveRenderedCanvas> renderedCanvas;
    std::shared_ptr<OpaqueRenderedLayer> renderedLayer;
    std::shared_ptr<Renderer::LiveScope> liveScope;
    std::vector<Frame> frames;
    int samplesReady = 0, samplesStamped = 0;
    Clock::time_point committedAt, endedAt;
};

// The process's resident high-water mark (VmHWM), which resetPeak() starts again;
// getrusage's maximum would also keep the peaks of threads that have ended.
double peakResidentGiB() {
    double kib = 0;
    if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f) != nullptr) {
            if (std::sscanf(line, "VmHWM: %lf", &kib) == 1) {
                break;
            }
        }
        std::fclose(f);
    }
    return kib / (1024.0 * 1024.0);
}

void resetPeak() {
    if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

long minorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// One canvas and its engine, kept across the repetitions of a case: each
// repetition paints one more stroke, so the first (cold) one finds fresh memory
// and the others show what painting costs once the engine has settled.
struct Session {
    UserDefaults defaults{std::nullopt};
    DrawingSettings settings{defaults};
    std::shared_ptr<TimingHost> host = std::make_shared<TimingHost>();
    std::shared_ptr<Controller> c = std::make_shared<Controller>();
    std::shared_ptr<StrokesViewModel> strokes;
    double setupGiB = 0;

    explicit Session(int fps) {
        // Each case's peak is its own: the kernel's high-water mark starts again here.
        resetPeak();
        settings.setPersistentTool(DrawingTool::brush);
        Brush brush;
        brush.size = 80; // radius 40
        brush.hardness = 0.7f;
        brush.opacity = 0.9f;
        brush.sizeDependsOnPressure = true;
        brush.sizeMinRatio = 0.5f;
        settings.setBaseBrush(brush);
        settings.color = NSColor::colorWithSRGBRed(0.8, 0.3, 0.1, 1);
        c->canvas = paintedCanvas();
        c->view = MTKView::make(MTLCreateSystemDefaultDevice());
        c->view->setHost(host);
        c->view->setBoundsSize({1920, 1080});
        c->view->setDrawableSize({3840, 2160});
        c->view->setPreferredFramesPerSecond(fps);
        c->renderer = Renderer::make(c->view, c->view->device());
        auto model = std::make_shared<DisplayViewModel>();
        model->resetTransform({3840, 2160}, {double(side), double(side)}, true);
        strokes = StrokesViewModel::make(settings);
        c->drawable = std::make_shared<DrawingDrawable>(c->renderer->settings(), model,
                                                        MTLSize{side, side, 1});
        c->strokeRenderer =
            StrokeRenderer::make(c->renderer->settings(), strokes, MTLSize{side, side, 1});
        c->renderedCanvas =
            std::make_shared<LiveRenderedCanvas>(c->canvas, c->strokeRenderer->strokeLayer());
        c->renderedLayer = std::make_shared<OpaqueRenderedLayer>(
            MTLSize{side, side, 1}, std::make_shared<TexturePool>(), c->canvas->activeLayer());
        c->strokeRenderer->setDelegate(c);
        c->renderer->computables.emplace_back(c);
        c->renderer->computables.emplace_back(c->renderedCanvas);
        c->renderer->drawables.emplace_back(c);
        // The first frame composites the whole canvas; the session starts after it.
        c->view->draw();
        MetalHelper::shared()->execute([](MetalHelper&, const auto&) {});
        MainQueue::runUntilIdle();
        setupGiB = peakResidentGiB();
    }
};

void BM_PaintingSession(benchmark::State& state) {
    cpu::setWorkerThreadCount(int(state.range(0)));
    const int fps = int(state.range(1));
    // One canvas at a time, so a case's memory is its own; the last one is kept to
    // the end of the process, which the engine outlives the benchmark library's teardown.
    static auto* sessions = new std::map<int, std::unique_ptr<Session>>();
    if (!sessions->contains(fps)) {
        sessions->clear();
        MainQueue::runUntilIdle();
    }
    auto& session = (*sessions)[fps];
    if (session == nullptr) {
        session = std::make_unique<Session>(fps);
    }
    const auto& c = session->c;
    const auto& strokes = session->strokes;
    const auto& host = session->host;

    for (auto _ : state) {
        c->frames.clear();
        c->samplesReady = c->samplesStamped = 0;
        {
            std::lock_guard lock(host->mutex);
            host->shown.clear();
        }
        state.counters["setup_GiB"] = session->setupGiB;
        // Each stroke's peak is its own, without the reference copy's buffers of
        // the repetition before.
        resetPeak();
        const long faultsBefore = minorFaults();
        const auto droppedBefore = c->view->droppedFrameCount();

        // A looping path over the middle of the canvas with the pressure
        // swelling and easing, as a tablet reports it.
        const int count = int(sampleRate * strokeSeconds);
        std::vector<Clock::time_point> enqueued(static_cast<size_t>(count));
        std::vector<int> readyOrder;
        const auto t0 = Clock::now() + std::chrono::milliseconds(5);
        for (int i = 0; i < count; ++i) {
            const double t = i / sampleRate;
            const CGPoint p{4000 + 2600 * std::sin(0.9 * t) + 500 * std::sin(5.1 * t),
                            4000 + 2400 * std::sin(1.3 * t + 0.5) + 400 * std::cos(4.3 * t)};
            const float pressure = float(0.55 + 0.45 * std::sin(2.2 * t));
            const auto due = t0 + std::chrono::nanoseconds(int64_t(t * 1e9));
            DispatchQueue::main().asyncAfter(due, [&, i, p, pressure] {
                enqueued[size_t(i)] = Clock::now();
                strokes->enqueuePointEvent(p, pressure, [&, i](bool) {
                    readyOrder.push_back(i);
                    c->samplesReady += 1;
                    c->renderer->needsDisplay();
                });
            });
        }
        MainQueue::runUntil([&] { return c->samplesReady == count; },
                            std::chrono::milliseconds(int64_t(strokeSeconds * 1000) + 60000));
        const auto closedAt = Clock::now();
        strokes->closeStroke([] {});
        MainQueue::runUntil([&] { return c->committedAt > closedAt && c->liveScope == nullptr; },
                            std::chrono::seconds(60));
        MetalHelper::shared()->execute([](MetalHelper&, const auto&) {});
        MainQueue::runUntilIdle();
        state.counters["minor_faults"] = double(minorFaults() - faultsBefore);

        // Frame figures: the compute work's run on the timeline, how long it waited
        // there behind earlier work, and the time from the frame's start until
        // it was shown.
        std::vector<double> compute, encode, shown, latency, queued;
        // The longest compute while painting, and once the stroke was closed (its
        // blend into the layer and the redraw of its region after the commit).
        double paintingMax = 0, closingMax = 0;
        // Of the latter, the frames begun after the commit: the redraw of what the
        // stroke left.
        double commitMax = 0;
        std::map<uint64_t, Clock::time_point> shownAt;
        {
            std::lock_guard lock(host->mutex);
            shownAt = host->shown;
        }
        int sample = 0;
        for (const auto& f : c->frames) {
            const Clock::time_point begun{Clock::duration(f.computeStart->load())};
            const Clock::time_point done{Clock::duration(f.computeDone->load())};
            compute.push_back(ms(done - begun));
            double& longest = f.start < closedAt ? paintingMax : closingMax;
            longest = std::max(longest, compute.back());
            if (f.start > c->committedAt) {
                commitMax = std::max(commitMax, compute.back());
            }
            queued.push_back(ms(begun - f.start));
            encode.push_back(ms(f.encode));
            const auto it = shownAt.find(f.drawableID);
            for (int k = 0; k < f.samplesShown; ++k, ++sample) {
                if (it != shownAt.end() && sample < int(readyOrder.size())) {
                    latency.push_back(
                        ms(it->second - enqueued[size_t(readyOrder[size_t(sample)])]));
                }
            }
            if (it != shownAt.end()) {
                shown.push_back(ms(it->second - f.start));
            }
        }
        state.counters["frames"] = double(c->frames.size());
        state.counters["view_dropped"] = double(c->view->droppedFrameCount() - droppedBefore);
        state.counters["compute_med_ms"] = percentile(compute, 0.5);
        state.counters["compute_p99_ms"] = percentile(compute, 0.99);
        state.counters["compute_max_ms"] = percentile(compute, 1.0);
        state.counters["paint_max_ms"] = paintingMax;
        state.counters["close_max_ms"] = closingMax;
        state.counters["commit_max_ms"] = commitMax;
        state.counters["encode_med_ms"] = percentile(encode, 0.5);
        state.counters["wait_med_ms"] = percentile(queued, 0.5);
        state.counters["frame_med_ms"] = percentile(shown, 0.5);
        state.counters["frame_p99_ms"] = percentile(shown, 0.99);
        state.counters["s2s_med_ms"] = percentile(latency, 0.5);
        state.counters["s2s_p99_ms"] = percentile(latency, 0.99);
        state.counters["finish_ms"] = ms(c->committedAt - closedAt);
        state.counters["end_ms"] = ms(c->endedAt - closedAt);
        state.counters["peak_GiB"] = peakResidentGiB();
    }
    // Reference: a parallel copy of one 8000 x 8000 8-bit layer.
    const size_t bytes = size_t(side) * size_t(side) * 4;
    std::vector<char> src(bytes, 1), dst(bytes, 0);
    bench::parallelCopy(dst.data(), src.data(), bytes);
    const auto r0 = Clock::now();
    bench::parallelCopy(dst.data(), src.data(), bytes);
    state.counters["layer_copy_ms"] = ms(Clock::now() - r0);
}
BENCHMARK(BM_PaintingSession)
    ->ArgNames({"threads", "fps"})
    ->Args({8, 60})
    ->Args({8, 120})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

VELMORA_BENCH_MAIN()
