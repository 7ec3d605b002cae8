// Painting in the canvas view's window, on the painting session's scene (ten
// 8000 x 8000 layers) in a 1920 x 1080-point view at backing scale 2:
// - a stroke replayed as pen tablet events posted to the view at 240 samples a
//   second: the time from posting a sample to the end of the paint that first
//   shows its dots, next to the engine's part of it (from the sample reaching
//   the stroke queue to the frame's render work completing), same run;
// - undo and redo of a stroke over 4000 x 4000 pixels, right after it and once
//   its snapshots are encoded: the main thread's time and the time to the
//   painted frame, as ratios to the engine's finish time for that stroke, to
//   a parallel copy of its region, to a full recomposite and to a copy of the
//   visible pixels; fitted and at 100 %;
// - the move tool dragging a layer that covers the whole canvas in 1-pixel
//   steps at 120 Hz: each step from its posted event to the painted frame that
//   shows it, as a ratio to a full recomposite of the canvas to a painted frame
//   and to a copy of the visible pixels, fitted and at 100 %;
// - a layer's opacity dragged, its visibility toggled, its blend mode changed:
//   each change to the painted frame that shows it, with the same references;
// - brush cursors of 24, 260 and 1080 points at backing scale 2: the main
//   thread's part of putting one on screen, as a ratio to a copy of the cursor
//   image's bytes.
#include "BenchDocument.hpp"
#include "BenchSupport.hpp"
#include "Document/Viewers/DrawingController.hpp"
#include "Document/Viewers/Viewer.hpp"
#include "Rendering/MetalHelper.hpp"
#include "Timing.hpp"
#include "ToolResponders/DrawingToolResponder.hpp"
#include "ToolResponders/MoveToolResponder.hpp"
#include "desktop/QtMainQueue.hpp"
#include "engine/PaintingScene.hpp"
#include "foundation/MainQueue.hpp"
#include "foundation/UserDefaults.hpp"
#include "gpu/CAMetalDrawable.hpp"

#include <QApplication>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QTabletEvent>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

using bench::ms;
using bench::percentile;
constexpr double sampleRate = 240;
constexpr double strokeSeconds = 5;

using bench::BenchDocument;
using ViewDelegate = BenchDocument::ViewDelegate;

// The brush tool's pen path until the tool itself exists: view points to
// drawable pixels to canvas pixels, into the stroke queue; pen up closes it.
class PenResponder : public ToolResponder {
public:
    std::shared_ptr<NSCursor> cursor() const override { return NSCursor::arrowCursor(); }
    void flagsChanged(const NSEvent&) override {}
    void mouseDown(const NSEvent& e, CGPoint p) override { enqueue(e, p); }
    void mouseDragged(const NSEvent& e, CGPoint p) override { enqueue(e, p); }
    void mouseUp(const NSEvent&, CGPoint) override {
        controller->strokesViewModel()->closeStroke([] {});
    }
    void scrollWheel(const NSEvent&, CGPoint) override {}
    void swipe(const NSEvent&) override {}

    void enqueue(const NSEvent& e, CGPoint p) {
        const CGSize bounds = metal->boundsSize(), drawable = metal->drawableSize();
        const CGPoint pixels{p.x * drawable.width / bounds.width,
                             p.y * drawable.height / bounds.height};
        const CGPoint canvas = transform().inverted().apply(pixels);
        enqueuedAt.push_back(Clock::now());
        controller->strokesViewModel()->enqueuePointEvent(canvas, e.pressure(), [this](bool) {
            ready += 1;
            controller->renderer()->needsDisplay();
        });
    }
    CGAffineTransform transform() const {
        return controller->drawable()->displayViewModel()->transform();
    }

    std::shared_ptr<DrawingController> controller;
    std::shared_ptr<MTKView> metal;
    std::vector<Clock::time_point> enqueuedAt;
    int ready = 0;
};

// Notes, for each frame, how many samples were ready when it began, which
// drawable it drew into and when its render work completed.
struct FrameProbe : RendererComputable, RendererDrawable {
    struct Frame {
        int ready = 0;
        uint64_t drawableID = 0;
        std::shared_ptr<std::atomic<Clock::rep>> rendered =
            std::make_shared<std::atomic<Clock::rep>>(0);
    };
    void compute(const std::shared_ptr<MTLCommandBuffer>&) override {
        frames.push_back({progress()});
    }
    void render(MTLViewport, const MTLRenderPassDescriptor&,
                const std::shared_ptr<MTLCommandBuffer>& buffer) override {
        if (frames.empty()) {
            return;
        }
        if (const auto d = view->currentDrawable()) {
            frames.back().drawableID = d->drawableID();
        }
        buffer->addCompletedHandler([slot = frames.back().rendered](MTLCommandBuffer&) {
            slot->store(Clock::now().time_since_epoch().count());
        });
    }
    // How many inputs (pen samples, move steps) the model had taken.
    std::function<int()> progress;
    std::shared_ptr<MTKView> view;
    std::vector<Frame> frames;
};

struct Session {
    UserDefaults defaults{std::nullopt};
    DrawingSettings settings{defaults};
    std::shared_ptr<BenchDocument> document = std::make_shared<BenchDocument>();
    std::shared_ptr<LayeredCanvas> canvas = bench::scene::paintedCanvas();
    Viewer viewer;
    std::shared_ptr<DisplayViewModel> model = std::make_shared<DisplayViewModel>();
    std::shared_ptr<ViewDelegate> delegate = std::make_shared<ViewDelegate>();
    std::shared_ptr<DrawingController> controller;
    std::shared_ptr<PenResponder> pen = std::make_shared<PenResponder>();
    std::shared_ptr<FrameProbe> probe = std::make_shared<FrameProbe>();
    std::map<uint64_t, Clock::time_point> painted;
    uint64_t paintCount = 0;
    bool scaled = false;
    const bool unpaced = std::getenv("VELMORA_BENCH_UNPACED") != nullptr;

    Session() {
        settings.setPersistentTool(DrawingTool::brush);
        Brush brush;
        brush.size = 80; // radius 40
        brush.hardness = 0.7f;
        brush.opacity = 0.9f;
        brush.sizeDependsOnPressure = true;
        brush.sizeMinRatio = 0.5f;
        settings.setBaseBrush(brush);
        settings.color = NSColor::colorWithSRGBRed(0.8, 0.3, 0.1, 1);
        viewer.resize(1920, 1080);
        viewer.show();
        QApplication::processEvents();
        const auto metal = viewer.view();
        scaled = metal->drawableSize() == CGSize{3840, 2160};
        metal->setPreferredFramesPerSecond(60);
        model->resetTransform(metal->drawableSize(), {8000, 8000}, true);
        controller = DrawingController::setUp(nullptr, metal, model, canvas, document,
                                              document->undoManager, document, settings);
        metal->setClearColor(viewer.backgroundClearColor());
        delegate->view = metal;
        controller->setDelegate(delegate);
        // Every frame composites all it has to, as before frames were paced: the
        // figures to compare with.
        controller->setPacedFrames(!unpaced);
        pen->controller = controller;
        pen->metal = metal;
        viewer.setToolResponder(pen);
        probe->progress = [pen = pen.get()] { return pen->ready; };
        probe->view = metal;
        auto& renderer = *controller->renderer();
        renderer.computables.insert(renderer.computables.begin(), Renderer::WeakComputable(probe));
        renderer.drawables.emplace_back(probe);
        viewer.setFramePaintedHook([this](uint64_t id, Clock::time_point at) {
            painted.emplace(id, at);
            paintCount += 1;
        });
        // The first frame composites the whole canvas, or starts to: the session
        // starts once it has caught up.
        waitForPaint([&] { metal->draw(); });
        runUntil([&] { return controller->renderedCanvas()->isCaughtUp(); });
        MetalHelper::shared()->execute([](MetalHelper&, const auto&) {});
    }

    void runUntil(const std::function<bool()>& done) {
        const auto deadline = Clock::now() + std::chrono::seconds(120);
        while (!done() && Clock::now() < deadline) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
    }
    // Runs `work` and returns when the frame it asked for was painted.
    Clock::time_point waitForPaint(const std::function<void()>& work) {
        const uint64_t before = paintCount;
        work();
        runUntil([&] { return paintCount > before; });
        return Clock::now();
    }
    // Fitted (as opened) or at 100 %: one canvas pixel per device pixel.
    void zoom(bool fitted) {
        model->resetTransform(viewer.view()->drawableSize(), {8000, 8000}, fitted);
        settle();
    }
    // A full recomposite of the whole canvas to a painted frame, as every frame
    // was before frames were paced.
    double fullRecomposite() {
        controller->setPacedFrames(false);
        controller->renderedCanvas()->needsUpdate(
            {{0, 0, 0}, {bench::scene::side, bench::scene::side, 1}});
        const auto t0 = Clock::now();
        const double took = ms(waitForPaint([&] { viewer.view()->draw(); }) - t0);
        controller->setPacedFrames(!unpaced);
        return took;
    }
    // A parallel copy of the canvas pixels the view shows (4 bytes each).
    double visibleCopy() {
        const auto pacing = controller->pacing();
        const MTLSize shown = pacing ? pacing->visible.size : MTLSize{0, 0, 1};
        const size_t bytes = size_t(shown.width) * size_t(shown.height) * 4;
        static std::vector<char> src(size_t(8000) * 8000 * 4, 1), dst(src.size(), 0);
        bench::parallelCopy(dst.data(), src.data(), bytes);
        const auto c0 = Clock::now();
        bench::parallelCopy(dst.data(), src.data(), bytes);
        return ms(Clock::now() - c0);
    }
    // For each probed frame, when its picture was painted, or the next one
    // painted when the view showed a newer drawable instead.
    std::vector<std::optional<Clock::time_point>> shownTimes() const {
        const auto& frames = probe->frames;
        std::vector<std::optional<Clock::time_point>> shown(frames.size());
        std::optional<Clock::time_point> next;
        for (size_t f = frames.size(); f-- > 0;) {
            if (const auto it = painted.find(frames[f].drawableID); it != painted.end()) {
                next = it->second;
            }
            shown[f] = next;
        }
        return shown;
    }
    // Lets the stroke's completion and undo group finish, and the view catch
    // up with the canvas at full resolution.
    void settle() {
        runUntil([&] { return !controller->isDrawing(); });
        runUntil([&] { return controller->renderedCanvas()->isCaughtUp(); });
        MetalHelper::shared()->execute([](MetalHelper&, const auto&) {});
        for (int i = 0; i < 3; ++i) {
            QApplication::processEvents();
            MainQueue::runUntilIdle();
        }
    }
};

Session& session() {
    static auto* s = new Session(); // outlives the benchmark library's teardown
    return *s;
}

const QPointingDevice* penDevice() {
    static const QPointingDevice* device = new QPointingDevice(
        "bench tablet", 4242, QInputDevice::DeviceType::Stylus, QPointingDevice::PointerType::Pen,
        QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1, 3, QString(),
        QPointingDeviceUniqueId::fromNumericId(7), QCoreApplication::instance());
    return device;
}

void BM_PenToPaintedFrame(benchmark::State& state) {
    auto& s = session();
    if (!s.scaled) {
        state.SkipWithError("the view's backing scale is not 2");
        return;
    }
    for (auto _ : state) {
        s.probe->frames.clear();
        s.pen->enqueuedAt.clear();
        s.pen->ready = 0;
        s.painted.clear();
        const int count = int(sampleRate * strokeSeconds);
        std::vector<Clock::time_point> posted(static_cast<size_t>(count));
        const CGAffineTransform toDrawable = s.pen->transform();
        const auto t0 = Clock::now() + std::chrono::milliseconds(5);
        for (int i = 0; i < count; ++i) {
            const double t = i / sampleRate;
            const CGPoint canvas{4000 + 2600 * std::sin(0.9 * t) + 500 * std::sin(5.1 * t),
                                 4000 + 2400 * std::sin(1.3 * t + 0.5) + 400 * std::cos(4.3 * t)};
            const CGPoint px = toDrawable.apply(canvas);
            const QPointF at(px.x / 2, s.viewer.height() - px.y / 2);
            const qreal pressure = 0.55 + 0.45 * std::sin(2.2 * t);
            const auto type = i == 0           ? QEvent::TabletPress
                              : i == count - 1 ? QEvent::TabletRelease
                                               : QEvent::TabletMove;
            const auto due = t0 + std::chrono::nanoseconds(int64_t(t * 1e9));
            DispatchQueue::main().asyncAfter(due, [&, i, at, pressure, type] {
                posted[size_t(i)] = Clock::now();
                QCoreApplication::postEvent(
                    &s.viewer, new QTabletEvent(type, penDevice(), at, s.viewer.mapToGlobal(at),
                                                type == QEvent::TabletRelease ? 0 : pressure, 0, 0,
                                                0, 0, 0, Qt::NoModifier, Qt::LeftButton,
                                                type == QEvent::TabletRelease
                                                    ? Qt::NoButton
                                                    : Qt::MouseButtons(Qt::LeftButton)));
            });
        }
        s.runUntil([&] { return s.pen->ready >= count - 1 && !s.controller->isDrawing(); });
        s.settle();

        const auto shown = s.shownTimes();
        const auto& frames = s.probe->frames;
        std::vector<double> widget, engine;
        int sample = 0;
        for (size_t f = 0; f < frames.size(); ++f) {
            const Clock::time_point rendered{Clock::duration(frames[f].rendered->load())};
            for (; sample < frames[f].ready && sample < int(s.pen->enqueuedAt.size()); ++sample) {
                if (shown[f]) {
                    widget.push_back(ms(*shown[f] - posted[size_t(sample)]));
                }
                if (frames[f].rendered->load() != 0) {
                    engine.push_back(ms(rendered - s.pen->enqueuedAt[size_t(sample)]));
                }
            }
        }
        const double interval = 1000.0 / 60.0;
        state.counters["samples"] = double(widget.size());
        state.counters["widget_med_ms"] = percentile(widget, 0.5);
        state.counters["widget_p99_ms"] = percentile(widget, 0.99);
        state.counters["engine_med_ms"] = percentile(engine, 0.5);
        state.counters["engine_p99_ms"] = percentile(engine, 0.99);
        state.counters["added_med_frames"] =
            (percentile(widget, 0.5) - percentile(engine, 0.5)) / interval;
        state.counters["added_p99_frames"] =
            (percentile(widget, 0.99) - percentile(engine, 0.99)) / interval;
    }
}
BENCHMARK(BM_PenToPaintedFrame)->Iterations(1)->Unit(benchmark::kMillisecond);

// A stroke over a 4000 x 4000 region, straight into the stroke queue; the time
// from closing it until its undo entry is registered.
double paintLargeStroke(Session& s) {
    for (double d = 2040; d <= 5960; d += 4) {
        s.controller->strokesViewModel()->enqueuePointEvent(
            {d, 8000 - d}, 1, [&s](bool) { s.controller->renderer()->needsDisplay(); });
        if (int(d) % 400 == 0) {
            QApplication::processEvents();
        }
    }
    const auto closed = Clock::now();
    s.controller->strokesViewModel()->closeStroke([] {});
    s.runUntil([&] { return !s.controller->isDrawing() && s.document->undoManager->canUndo(); });
    const double finish = ms(Clock::now() - closed);
    s.settle();
    return finish;
}

void BM_UndoRedoLargeStroke(benchmark::State& state) {
    auto& s = session();
    const bool encoded = state.range(0) != 0;
    s.zoom(state.range(1) != 0);
    const size_t regionBytes = size_t(4080) * 4080 * 4;
    static std::vector<char> src(regionBytes, 1), dst(regionBytes, 0);
    for (auto _ : state) {
        s.document->undoManager->removeAllActions();
        const double finish = paintLargeStroke(s);
        if (encoded) {
            // Both snapshots are LZW-encoded on the default queue meanwhile.
            QThread::msleep(3000);
        }
        auto& undo = *s.document->undoManager;
        for (const bool redo : {false, true}) {
            const auto t0 = Clock::now();
            Clock::time_point returned;
            const auto painted = s.waitForPaint([&] {
                redo ? undo.redo() : undo.undo();
                returned = Clock::now();
            });
            const char* name = redo ? "redo" : "undo";
            state.counters[std::string(name) + "_main_ms"] = ms(returned - t0);
            state.counters[std::string(name) + "_painted_ms"] = ms(painted - t0);
            state.counters[std::string(name) + "_to_finish"] = ms(painted - t0) / finish;
        }
        bench::parallelCopy(dst.data(), src.data(), regionBytes);
        const auto c0 = Clock::now();
        bench::parallelCopy(dst.data(), src.data(), regionBytes);
        const double copy = ms(Clock::now() - c0);
        const double full = s.fullRecomposite(), visible = s.visibleCopy();
        state.counters["recomposite_ms"] = full;
        state.counters["visible_copy_ms"] = visible;
        state.counters["undo_to_recomposite"] = state.counters["undo_painted_ms"] / full;
        state.counters["undo_to_visible_copy"] = state.counters["undo_painted_ms"] / visible;
        state.counters["finish_ms"] = finish;
        state.counters["region_copy_ms"] = copy;
        state.counters["undo_to_copy"] = state.counters["undo_painted_ms"] / copy;
        state.counters["redo_to_copy"] = state.counters["redo_painted_ms"] / copy;
    }
}
BENCHMARK(BM_UndoRedoLargeStroke)
    ->ArgNames({"encoded", "fitted"})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({1, 0})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The move tool's owner: the session's canvas, view and undo manager.
struct MoveOwner : MoveToolResponderDelegate {
    explicit MoveOwner(Session& session) : s(session) {}
    std::shared_ptr<UndoManager> undoManager() override { return s.document->undoManager; }
    std::shared_ptr<MTKView> canvasView() override { return s.viewer.view(); }
    std::shared_ptr<DisplayViewModel> displayViewModel() const override { return s.model; }
    std::shared_ptr<DrawingController> drawingController() const override { return s.controller; }
    void presentPopover(NSRectEdge) override { refused += 1; }
    Session& s;
    int refused = 0;
};

// Hands the viewer's events to the move tool and counts the steps that moved
// the layer.
class CountingMove : public ToolResponder {
public:
    std::shared_ptr<NSCursor> cursor() const override { return move->cursor(); }
    void flagsChanged(const NSEvent& e) override { move->flagsChanged(e); }
    void mouseDown(const NSEvent& e, CGPoint p) override { move->mouseDown(e, p); }
    void mouseDragged(const NSEvent& e, CGPoint p) override {
        const MTLRegion before = layer->boundingRect();
        move->mouseDragged(e, p);
        if (layer->boundingRect().origin.x != before.origin.x) {
            applied += 1;
            appliedAt.push_back(Clock::now());
        }
    }
    void mouseUp(const NSEvent& e, CGPoint p) override { move->mouseUp(e, p); }
    void scrollWheel(const NSEvent&, CGPoint) override {}
    void swipe(const NSEvent&) override {}

    std::shared_ptr<MoveToolResponder> move;
    std::shared_ptr<Layer> layer;
    int applied = 0;
    std::vector<Clock::time_point> appliedAt;
};

void BM_MoveToolStepToFrame(benchmark::State& state) {
    auto& s = session();
    if (!s.scaled) {
        state.SkipWithError("the view's backing scale is not 2");
        return;
    }
    constexpr int steps = 240; // two seconds at 120 Hz
    const auto canvas = s.canvas;
    const auto layer = canvas->immediateLayers().front(); // covers the whole canvas
    const auto activeBefore = canvas->activeLayer();
    canvas->setActiveLayer(layer);
    auto owner = std::make_shared<MoveOwner>(s);
    auto counting = std::make_shared<CountingMove>();
    counting->move = MoveToolResponder::make(owner);
    counting->layer = layer;
    s.viewer.setToolResponder(counting);
    const MTLRegion whole{{0, 0, 0}, {bench::scene::side, bench::scene::side, 1}};
    const auto recomposite = [&] { return s.fullRecomposite(); };
    s.zoom(state.range(0) != 0);

    for (auto _ : state) {
        // Shifted left by the drag's length first: a layer as large as the
        // largest canvas may come back by as much, never go further out.
        layer->moveContents({-steps, 0, 0});
        s.controller->currentRenderedLayer()->updateRegion(whole);
        recomposite();
        s.probe->frames.clear();
        s.painted.clear();
        counting->applied = 0;
        counting->appliedAt.clear();
        s.probe->progress = [c = counting.get()] { return c->applied; };

        // One canvas pixel in view points, the drag's path across the middle.
        const CGAffineTransform toDrawable = s.model->transform();
        const double pointsPerPixel = std::hypot(toDrawable.a, toDrawable.b) / 2;
        const QPointF start(s.viewer.width() / 2.0, s.viewer.height() / 2.0);
        std::vector<Clock::time_point> posted(size_t(steps + 2));
        const auto t0 = Clock::now() + std::chrono::milliseconds(5);
        for (int i = 0; i <= steps + 1; ++i) {
            // The whole part of each position is one pixel further than the last.
            const QPointF at =
                i == 0 ? start : start + QPointF((std::min(i, steps) + 0.5) * pointsPerPixel, 0);
            const auto type = i == 0           ? QEvent::MouseButtonPress
                              : i == steps + 1 ? QEvent::MouseButtonRelease
                                               : QEvent::MouseMove;
            const auto due = t0 + std::chrono::nanoseconds(int64_t(i / 120.0 * 1e9));
            DispatchQueue::main().asyncAfter(due, [&, i, at, type] {
                posted[size_t(i)] = Clock::now();
                const Qt::MouseButtons held =
                    type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
                const Qt::MouseButton button =
                    type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
                QCoreApplication::postEvent(&s.viewer,
                                            new QMouseEvent(type, at, s.viewer.mapToGlobal(at),
                                                            button, held, Qt::NoModifier));
            });
        }
        s.runUntil(
            [&] { return posted.back() != Clock::time_point{} && !counting->move->dragSession(); });
        const auto released = Clock::now();
        s.settle();
        const double catchUp = ms(Clock::now() - released);

        // Step k (1-based) is shown by the first frame begun after k steps.
        const auto shown = s.shownTimes();
        const auto& frames = s.probe->frames;
        std::vector<double> latency, delivery;
        int step = 0;
        for (size_t f = 0; f < frames.size(); ++f) {
            for (; step < frames[f].ready && step < steps; ++step) {
                if (shown[f]) {
                    latency.push_back(ms(*shown[f] - posted[size_t(step + 1)]));
                    // Of which the event's wait for the main thread.
                    delivery.push_back(
                        ms(counting->appliedAt[size_t(step)] - posted[size_t(step + 1)]));
                }
            }
        }
        std::vector<double> full;
        for (int i = 0; i < 3; ++i) {
            full.push_back(recomposite());
        }
        const double reference = percentile(full, 0.5);
        const double visible = s.visibleCopy();
        state.counters["catch_up_ms"] = catchUp;
        state.counters["visible_copy_ms"] = visible;
        state.counters["step_med_to_visible_copy"] = percentile(latency, 0.5) / visible;
        state.counters["steps_shown"] = double(latency.size());
        state.counters["refused"] = double(owner->refused);
        state.counters["step_med_ms"] = percentile(latency, 0.5);
        state.counters["step_p99_ms"] = percentile(latency, 0.99);
        state.counters["delivery_med_ms"] = percentile(delivery, 0.5);
        state.counters["frames"] = double(frames.size());
        state.counters["recomposite_ms"] = reference;
        state.counters["step_med_to_recomposite"] = percentile(latency, 0.5) / reference;
        state.counters["step_p99_to_recomposite"] = percentile(latency, 0.99) / reference;
        s.document->undoManager->removeAllActions();
    }
    s.probe->progress = [pen = s.pen.get()] { return pen->ready; };
    s.viewer.setToolResponder(s.pen);
    canvas->setActiveLayer(activeBefore);
    s.settle();
}
BENCHMARK(BM_MoveToolStepToFrame)
    ->ArgNames({"fitted"})
    ->Arg(1)
    ->Arg(0)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// A layer's opacity dragged (60 steps at 60 Hz), its visibility toggled or its
// blend mode changed (10 times at 4 Hz), on layer 5 (a quarter of the canvas),
// fitted or at 100 %: each change from being made on the main thread to the
// painted frame that first shows it, beside a full recomposite and a copy of
// the visible pixels measured in the same run.
void BM_LayerPropertyStepToFrame(benchmark::State& state) {
    auto& s = session();
    if (!s.scaled) {
        state.SkipWithError("the view's backing scale is not 2");
        return;
    }
    const int kind = int(state.range(0));
    s.zoom(state.range(1) != 0);
    const auto layer = s.canvas->immediateLayers()[5];
    const int steps = kind == 0 ? 60 : 10;
    const double rate = kind == 0 ? 60 : 4;
    const BlendMode modes[] = {BlendMode::multiply, BlendMode::overlay, BlendMode::linearBurn,
                               BlendMode::linearDodge, BlendMode::sourceOver};
    int applied = 0;
    for (auto _ : state) {
        s.probe->frames.clear();
        s.painted.clear();
        applied = 0;
        s.probe->progress = [&applied] { return applied; };
        std::vector<Clock::time_point> madeAt(static_cast<size_t>(steps));
        const auto t0 = Clock::now() + std::chrono::milliseconds(5);
        for (int i = 0; i < steps; ++i) {
            const auto due = t0 + std::chrono::nanoseconds(int64_t(i / rate * 1e9));
            DispatchQueue::main().asyncAfter(due, [&, i] {
                madeAt[size_t(i)] = Clock::now();
                if (kind == 0) {
                    layer->setOpacity(1.0f - 0.9f * float(i + 1) / float(steps));
                } else if (kind == 1) {
                    layer->setVisible(!layer->visible());
                } else {
                    layer->setBlendMode(modes[size_t(i) % std::size(modes)]);
                }
                applied += 1;
            });
        }
        s.runUntil([&] { return applied == steps; });
        const auto last = Clock::now();
        s.settle();
        const double catchUp = ms(Clock::now() - last);
        const auto shown = s.shownTimes();
        const auto& frames = s.probe->frames;
        std::vector<double> latency;
        int step = 0;
        for (size_t f = 0; f < frames.size(); ++f) {
            for (; step < frames[f].ready && step < steps; ++step) {
                if (shown[f]) {
                    latency.push_back(ms(*shown[f] - madeAt[size_t(step)]));
                }
            }
        }
        const double full = s.fullRecomposite(), visible = s.visibleCopy();
        state.counters["steps_shown"] = double(latency.size());
        state.counters["step_med_ms"] = percentile(latency, 0.5);
        state.counters["step_p99_ms"] = percentile(latency, 0.99);
        state.counters["catch_up_ms"] = catchUp;
        state.counters["recomposite_ms"] = full;
        state.counters["visible_copy_ms"] = visible;
        state.counters["step_med_to_recomposite"] = percentile(latency, 0.5) / full;
        state.counters["step_med_to_visible_copy"] = percentile(latency, 0.5) / visible;
        // Back as the scene had it.
        layer->setOpacity(1);
        layer->setVisible(true);
        layer->setBlendMode(BlendMode::sourceOver);
        s.settle();
        s.document->undoManager->removeAllActions();
    }
    s.probe->progress = [pen = s.pen.get()] { return pen->ready; };
}
BENCHMARK(BM_LayerPropertyStepToFrame)
    ->ArgNames({"kind", "fitted"})
    ->ArgsProduct({{0, 1, 2}, {1, 0}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The main thread's part of showing a new brush cursor of `d` points at
// backing scale 2, made on the cursor queue beforehand (its images and, where
// the platform allows, its pixmap cursor): next to a copy of the 2x image's
// bytes. The cursor queue's time is noted beside it.
void BM_BrushCursorOnMainThread(benchmark::State& state) {
    const double d = double(state.range(0));
    Brush brush;
    brush.size = float(d - 4); // the ring's image has 2 points of margin each side
    brush.hardness = 0.7f;
    constexpr int samples = 9;
    const DispatchQueue queue("CursorGeneratorQueue", DispatchQoS::userInitiated);
    for (auto _ : state) {
        std::vector<double> main, copy, queued;
        int side = 0;
        for (int i = 0; i < samples; ++i) {
            // Made off the clock on the cursor queue, as the tool makes it.
            std::shared_ptr<NSCursor> cursor;
            const auto q0 = Clock::now();
            queue.sync([&] { cursor = DrawingToolResponder::makeCursor(brush, 1.0, 2.0); });
            queued.push_back(ms(Clock::now() - q0));
            const QImage image = cursor->image(2);
            side = image.width();
            std::vector<uint8_t> bytes(size_t(image.sizeInBytes()));
            const auto c0 = Clock::now();
            std::memcpy(bytes.data(), image.constBits(), bytes.size());
            copy.push_back(ms(Clock::now() - c0));
            benchmark::DoNotOptimize(bytes.data());
            const auto t0 = Clock::now();
            cursor->set();
            main.push_back(ms(Clock::now() - t0));
        }
        state.counters["image_px"] = double(side);
        state.counters["main_us"] = 1000 * percentile(main, 0.5);
        state.counters["copy_us"] = 1000 * percentile(copy, 0.5);
        state.counters["cursor_queue_us"] = 1000 * percentile(queued, 0.5);
        state.counters["main_to_copy"] = percentile(main, 0.5) / percentile(copy, 0.5);
    }
    NSCursor::arrowCursor()->set();
    QApplication::processEvents();
}
BENCHMARK(BM_BrushCursorOnMainThread)
    ->ArgNames({"d"})
    ->Arg(24)
    ->Arg(260)
    ->Arg(1080)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // Our painting, not a display server's, at the backing scale of a HiDPI screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    QtMainQueue::bind();
    return bench::runBenchmarks(argc, argv);
}
