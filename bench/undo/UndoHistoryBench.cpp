// A long painting session's undo history: strokes of 3 to 150 samples drawn
// through the drawing controller at fitted zoom on the painting session's
// scene (ten 8000 x 8000 layers of paint-like pixels, the background active so
// that the document itself never grows), each its own undo step. Per session:
// - the resident size beyond the document's own (the document open and shown)
//   after the strokes, and its peak, next to the 2 GB (or a quarter of the
//   machine) that may take; the growth in each session apart;
// - the time to undo the newest stroke and, every later one undone first, the
//   oldest (drawn along the same path), from the undo to its pixels written;
//   the oldest as ratios to the newest and to a parallel copy of the stroke's
//   bounding pixels;
// - what of the growth stays once the history is cleared (not the history's).
#include "BenchDocument.hpp"
#include "BenchSupport.hpp"
#include "Document/Viewers/DrawingController.hpp"
#include "Document/Viewers/SnapshotStore.hpp"
#include "PaintedDocument.hpp"
#include "Rendering/BenchmarkedRenderer.hpp"
#include "Timing.hpp"
#include "desktop/QtMainQueue.hpp"
#include "foundation/MainQueue.hpp"
#include "foundation/UserDefaults.hpp"
#include "gpu/HeadlessViewHost.hpp"

#include <QCoreApplication>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <random>
#include <string>
#include <vector>

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

using bench::ms;

// The resident set and its peak since the last reset, in bytes.
struct Resident {
    double now = 0, peak = 0;
};

Resident resident() {
    std::ifstream status("/proc/self/status");
    Resident r;
    for (std::string line; std::getline(status, line);) {
        const auto kib = [&] { return 1024.0 * std::atof(line.c_str() + line.find(':') + 1); };
        if (line.starts_with("VmRSS:")) {
            r.now = kib();
        } else if (line.starts_with("VmHWM:")) {
            r.peak = kib();
        }
    }
    return r;
}

void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

using bench::BenchDocument;
using ViewDelegate = BenchDocument::ViewDelegate;

// A stroke as a hand draws one with the mouse at fitted zoom (some 7 canvas
// pixels a view point): a wandering path.
struct StrokePath {
    std::vector<CGPoint> points;
    MTLRegion bounds;
};

StrokePath strokePath(std::mt19937& random, double radius) {
    std::uniform_int_distribution<int> count(3, 150);
    std::uniform_real_distribution<double> unit(0, 1);
    const int n = count(random);
    const double side = double(bench::scene::side);
    // A mouse moved at a hand's pace: some 12 view points between samples.
    constexpr double step = 90;
    CGPoint p{400 + unit(random) * (side - 800), 400 + unit(random) * (side - 800)};
    double heading = unit(random) * 2 * M_PI;
    StrokePath path;
    double x0 = p.x, y0 = p.y, x1 = p.x, y1 = p.y;
    for (int i = 0; i < n; ++i) {
        path.points.push_back(p);
        x0 = std::min(x0, p.x), y0 = std::min(y0, p.y);
        x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
        heading += (unit(random) - 0.5) * 0.5;
        CGPoint next{p.x + step * std::cos(heading), p.y + step * std::sin(heading)};
        // Turned back at the canvas's edges.
        if (next.x < 200 || next.x > side - 200) {
            heading = M_PI - heading;
            next.x = std::clamp(next.x, 200.0, side - 200);
        }
        if (next.y < 200 || next.y > side - 200) {
            heading = -heading;
            next.y = std::clamp(next.y, 200.0, side - 200);
        }
        p = next;
    }
    const auto lo = [&](double v) { return std::max<int64_t>(0, int64_t(v - radius)); };
    const auto hi = [&](double v) {
        return std::min<int64_t>(bench::scene::side, int64_t(std::ceil(v + radius)));
    };
    path.bounds = {{lo(x0), lo(y0), 0}, {hi(x1) - lo(x0), hi(y1) - lo(y0), 1}};
    return path;
}

struct Session {
    UserDefaults defaults{std::nullopt};
    DrawingSettings settings{defaults};
    std::shared_ptr<BenchDocument> document = std::make_shared<BenchDocument>();
    std::shared_ptr<LayeredCanvas> canvas;
    std::shared_ptr<HeadlessViewHost> host = std::make_shared<HeadlessViewHost>(false);
    std::shared_ptr<MTKView> view = MTKView::make(MTLCreateSystemDefaultDevice());
    std::shared_ptr<DisplayViewModel> model = std::make_shared<DisplayViewModel>();
    std::shared_ptr<ViewDelegate> delegate = std::make_shared<ViewDelegate>();
    std::shared_ptr<DrawingController> controller;
    static constexpr double brushSize = 120;
    // The document open and shown, before any stroke.
    double documentResident = 0;

    Session() {
        const Layers layers = bench::scene::sceneLayers(bench::paintedLayer);
        canvas = LayeredCanvas::make({bench::scene::side, bench::scene::side, 1});
        canvas->setImmediateLayers(layers);
        canvas->setActiveLayer(layers.front());
        settings.setPersistentTool(DrawingTool::brush);
        Brush brush;
        brush.size = float(brushSize);
        brush.hardness = 0.6f;
        brush.opacity = 0.8f;
        brush.spacing = 0.1f;
        settings.setBaseBrush(brush);
        settings.color = NSColor::colorWithSRGBRed(0.2, 0.4, 0.8, 1);
        view->setHost(host);
        view->setBoundsSize({1920, 1080});
        view->setDrawableSize({1920, 1080});
        view->setPreferredFramesPerSecond(60);
        model->resetTransform(view->drawableSize(), {8000, 8000}, true);
        const auto renderer = BenchmarkedRenderer::make(view, view->device());
        controller = DrawingController::make(renderer, model, canvas, document,
                                             document->undoManager, document, settings);
        delegate->view = view;
        controller->setDelegate(delegate);
        view->draw();
        settle();
        malloc_trim(0);
        documentResident = resident().now;
    }

    // Waits for the GPU work committed so far, then runs the main queue dry and
    // ends the event loop's turn (which closes the undo group).
    void settle() {
        const auto barrier = view->device()->newCommandQueue()->commandBuffer();
        barrier->commit();
        barrier->waitUntilCompleted();
        MainQueue::runUntilIdle();
        QCoreApplication::processEvents();
    }

    void stroke(const StrokePath& path) {
        int taken = 0;
        for (const CGPoint& p : path.points) {
            controller->strokesViewModel()->enqueuePointEvent(p, 0.8f,
                                                              [&taken](bool) { taken += 1; });
        }
        bool closed = false;
        controller->strokesViewModel()->closeStroke([&] { closed = true; });
        MainQueue::runUntil([&] { return closed && taken == int(path.points.size()); },
                            std::chrono::seconds(60));
        for (int i = 0; i < 100 && controller->strokesViewModel()->front() != nullptr; ++i) {
            view->draw();
            MainQueue::runUntilIdle();
        }
        settle();
        settle();
    }

    // From the undo to its pixels written into the layer.
    double timedUndo() {
        const auto t0 = Clock::now();
        document->undoManager->undo();
        settle();
        return ms(Clock::now() - t0);
    }
};

Session& session() {
    static auto* s = new Session(); // outlives the benchmark library's teardown
    return *s;
}

void BM_LongSession(benchmark::State& state) {
    auto& s = session();
    const int strokes = int(state.range(0));
    const double limit = double(SnapshotStore::historyLimit());
    // The same strokes in every repetition.
    std::mt19937 random(20240611);
    std::vector<StrokePath> paths;
    for (int i = 0; i < strokes; ++i) {
        paths.push_back(strokePath(random, Session::brushSize / 2));
    }
    // The newest stroke is drawn as the oldest was: the two undos compare.
    paths.back() = paths.front();
    const MTLRegion oldest = paths.front().bounds;
    const size_t oldestBytes = size_t(oldest.size.width) * size_t(oldest.size.height) * 4;
    std::vector<char> src(oldestBytes, 1), dst(oldestBytes, 0);

    for (auto _ : state) {
        // The previous repetition's history is gone; what the allocator kept of
        // it is given back, so that each starts from the document alone.
        s.document->undoManager->removeAllActions();
        s.settle();
        malloc_trim(0);
        const Resident start = resident();
        resetPeak();
        const auto p0 = Clock::now();
        for (size_t i = 0; i < paths.size(); ++i) {
            s.stroke(paths[i]);
            // The growth as the session goes on: bounded, not in step with it.
            if ((i + 1) % 300 == 0) {
                state.counters["growth_at_" + std::to_string(i + 1) + "_MB"] =
                    (resident().now - start.now) / 1e6;
            }
        }
        const double painting = ms(Clock::now() - p0);
        // Whatever was still being encoded has settled too.
        std::this_thread::sleep_for(std::chrono::seconds(2));
        s.settle();
        const Resident end = resident();
        const auto& store = SnapshotStore::shared();
        state.counters["history_in_memory_MB"] = double(store->bytesInMemory()) / 1e6;
        state.counters["history_in_file_MB"] = double(store->bytesInFile()) / 1e6;
        state.counters["heap_in_use_MB"] = double(mallinfo2().uordblks) / 1e6;

        // Every stroke undone, the oldest read back from the file.
        resetPeak();
        std::vector<double> undos;
        for (int i = 0; i < strokes; ++i) {
            undos.push_back(s.timedUndo());
        }
        const double undoingPeak = resident().peak;
        bench::parallelCopy(dst.data(), src.data(), oldestBytes);
        const auto c0 = Clock::now();
        bench::parallelCopy(dst.data(), src.data(), oldestBytes);
        const double copy = ms(Clock::now() - c0);

        // What stays once the history is gone is not the history's.
        s.document->undoManager->removeAllActions();
        s.settle();
        malloc_trim(0);
        const double residual = resident().now - start.now;

        const double growth = end.now - start.now, peak = end.peak - start.now;
        state.counters["without_history_MB"] = residual / 1e6;
        state.counters["document_MB"] = s.documentResident / 1e6;
        state.counters["rss_start_MB"] = start.now / 1e6;
        state.counters["rss_peak_MB"] = end.peak / 1e6;
        state.counters["rss_end_MB"] = end.now / 1e6;
        state.counters["rss_undoing_peak_MB"] = undoingPeak / 1e6;
        state.counters["beyond_document_undoing_peak_MB"] =
            (undoingPeak - s.documentResident) / 1e6;
        // All that painting added to the document's own, the first strokes' included.
        state.counters["beyond_document_MB"] = (end.now - s.documentResident) / 1e6;
        state.counters["beyond_document_peak_MB"] = (end.peak - s.documentResident) / 1e6;
        state.counters["beyond_to_limit"] = (end.peak - s.documentResident) / limit;
        state.counters["growth_MB"] = growth / 1e6;
        state.counters["peak_growth_MB"] = peak / 1e6;
        state.counters["growth_per_stroke_MB"] = growth / 1e6 / strokes;
        state.counters["growth_to_limit"] = growth / limit;
        state.counters["peak_to_limit"] = peak / limit;
        state.counters["stroke_ms"] = painting / strokes;
        state.counters["undo_newest_ms"] = undos.front();
        state.counters["undo_oldest_ms"] = undos.back();
        state.counters["undo_med_ms"] = bench::percentile(undos, 0.5);
        // The oldest hundred, read back from the file, against the newest hundred.
        const size_t tail = std::min<size_t>(100, undos.size());
        const std::vector<double> newest(undos.begin(), undos.begin() + tail),
            oldest100(undos.end() - tail, undos.end());
        state.counters["undo_oldest100_p10_ms"] = bench::percentile(oldest100, 0.1);
        state.counters["undo_oldest100_med_ms"] = bench::percentile(oldest100, 0.5);
        state.counters["undo_oldest100_p90_ms"] = bench::percentile(oldest100, 0.9);
        state.counters["undo_newest100_med_ms"] = bench::percentile(newest, 0.5);
        state.counters["oldest100_to_newest100"] =
            bench::percentile(oldest100, 0.5) / bench::percentile(newest, 0.5);
        state.counters["oldest_to_newest"] = undos.back() / undos.front();
        state.counters["oldest_copy_ms"] = copy;
        state.counters["oldest_to_copy"] = undos.back() / copy;
    }
    s.document->undoManager->removeAllActions();
    s.settle();
}
BENCHMARK(BM_LongSession)
    ->ArgNames({"strokes"})
    ->Arg(1500)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    QtMainQueue::bind();
    return bench::runBenchmarks(argc, argv);
}
