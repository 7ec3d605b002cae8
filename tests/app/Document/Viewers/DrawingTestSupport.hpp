#pragma once

#include "Canvas/GroupLayer.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Canvas/RasterLayer.hpp"
#include "Document/BitmapProvider.hpp"
#include "Document/UndoLock.hpp"
#include "Document/Viewers/DrawingController.hpp"
#include "Rendering/BenchmarkedRenderer.hpp"
#include "Rendering/Brush.hpp"
#include "desktop/UndoManager.hpp"
#include "foundation/FatalError.hpp"
#include "foundation/MainQueue.hpp"
#include "foundation/UserDefaults.hpp"
#include "gpu/HeadlessViewHost.hpp"
#include "graphics/ColorManagement.hpp"
#include "graphics/NSColor.hpp"

#include <QCoreApplication>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace velmora::testing {

// Hands out undo locks that hold it, as the application's document does, and
// counts them.
class TestDocument : public UndoLockable,
                     public BitmapReceiver,
                     public std::enable_shared_from_this<TestDocument> {
public:
    std::shared_ptr<UndoLock> makeUndoLock() override {
        struct Lock : UndoLock {
            explicit Lock(std::shared_ptr<TestDocument> d) : document(std::move(d)) {}
            ~Lock() override { document->locksHeld -= 1; }
            std::shared_ptr<TestDocument> document;
        };
        locksMade += 1;
        locksHeld += 1;
        return std::make_shared<Lock>(shared_from_this());
    }
    std::shared_ptr<BitmapProvider> bitmapProvider() const override { return provider.lock(); }
    void setBitmapProvider(const std::shared_ptr<BitmapProvider>& p) override { provider = p; }

    std::shared_ptr<UndoManager> undoManager = std::make_shared<UndoManager>();
    std::weak_ptr<BitmapProvider> provider;
    int locksMade = 0;
    int locksHeld = 0;
};

// Drawing settings kept only in memory: a soft, half-opaque red brush.
struct TestDrawingSettings {
    UserDefaults defaults{std::nullopt};
    DrawingSettings settings{defaults};
    TestDrawingSettings() {
        settings.color = NSColor::colorWithSRGBRed(0.9, 0.2, 0.1, 0.6);
        Brush brush;
        brush.name = "Test";
        brush.size = 9;
        brush.hardness = 0.5f;
        brush.opacity = 0.8f;
        brush.spacing = 0.1f;
        settings.setPersistentTool(DrawingTool::brush);
        settings.setBaseBrush(brush);
    }
};

constexpr int64_t side = 64;

// Straight RGBA, canvas rows bottom first.
using Pixels = std::vector<uint8_t>;

// A picture that differs left from right and top from bottom, half transparent
// in places.
inline std::shared_ptr<NSBitmapImageRep> asymmetricBitmap() {
    auto bitmap = NSBitmapImageRep::makeRGBA8(side, side, ColorManagement::workingNSColorSpace());
    for (int64_t r = 0; r < side; ++r) {
        for (int64_t x = 0; x < side; ++x) {
            uint8_t* p = bitmap->row(r) + 4 * x;
            p[0] = uint8_t(3 * x + r);
            p[1] = uint8_t(200 - 2 * r);
            p[2] = uint8_t(x * r % 251);
            p[3] = x < side / 2 ? 128 : uint8_t(60 + 3 * r);
        }
    }
    return bitmap;
}

// The layer's pixels as stored in its patches, read back through their TIFF.
inline Pixels layerPixels(const RasterLayer& layer) {
    Pixels out(size_t(side * side * 4), 0);
    for (const auto& patch : layer.patches()) {
        const auto bitmap = NSBitmapImageRep::imageRepWithData(patch->tiffData());
        precondition(bitmap != nullptr, "A patch did not read back");
        const MTLRegion region = patch->region();
        for (int64_t r = 0; r < bitmap->pixelsHigh(); ++r) {
            const int64_t y = region.origin.y + bitmap->pixelsHigh() - 1 - r;
            for (int64_t c = 0; c < bitmap->pixelsWide(); ++c) {
                const int64_t x = region.origin.x + c;
                if (x >= 0 && y >= 0 && x < side && y < side) {
                    std::copy_n(bitmap->row(r) + 4 * c, 4, out.begin() + 4 * (y * side + x));
                }
            }
        }
    }
    return out;
}

// Ends the event loop's turn, which closes the undo manager's group.
inline void endTurn() {
    QCoreApplication::processEvents();
}

// Hands the controller the view to redraw.
struct TestDrawingDelegate : DrawingControllerDelegate {
    explicit TestDrawingDelegate(std::shared_ptr<MTKView> v) : view(std::move(v)) {}
    std::shared_ptr<MTKView> canvasView() override { return view; }
    std::shared_ptr<MTKView> view;
};

// A 64 × 64 canvas on a headless view at scale 1, with its renderer and a
// drawing controller as the drawing view controller makes them.
struct DrawingRig {
    TestDrawingSettings settings;
    std::shared_ptr<TestDocument> document = std::make_shared<TestDocument>();
    std::shared_ptr<RasterLayer> background = RasterLayer::make("Background", *asymmetricBitmap());
    std::shared_ptr<LayeredCanvas> canvas = LayeredCanvas::make({side, side, 1}, background);
    std::shared_ptr<HeadlessViewHost> host = std::make_shared<HeadlessViewHost>(true);
    std::shared_ptr<MTKView> view = MTKView::make(MTLCreateSystemDefaultDevice());
    std::shared_ptr<DisplayViewModel> displayViewModel = std::make_shared<DisplayViewModel>();
    std::shared_ptr<Renderer> renderer;
    std::shared_ptr<DrawingController> controller;
    std::shared_ptr<TestDrawingDelegate> delegate = std::make_shared<TestDrawingDelegate>(view);
    int samplesDone = 0;

    DrawingRig() {
        view->setHost(host);
        view->setBoundsSize({double(side), double(side)});
        view->setDrawableSize({double(side), double(side)});
        // Frames are drawn by hand where it matters. Any wait on the main queue
        // may still draw one (asked for while paused, or the clock of a live
        // view), which can blend a closed stroke and take it off the queue.
        view->setPreferredFramesPerSecond(1);
        renderer = BenchmarkedRenderer::make(view, view->device());
        controller = DrawingController::make(renderer, displayViewModel, canvas, document,
                                             document->undoManager, document, settings.settings);
        controller->setDelegate(delegate);
    }
    ~DrawingRig() {
        controller = nullptr;
        MainQueue::runUntilIdle();
    }

    // Feeds pen samples (canvas pixels) and waits until the queue took them.
    void enqueue(const std::vector<CGPoint>& points, float pressure = 0.8f) {
        const int target = samplesDone + int(points.size());
        for (const auto& p : points) {
            controller->strokesViewModel()->enqueuePointEvent(p, pressure,
                                                              [this](bool) { samplesDone += 1; });
        }
        precondition(MainQueue::runUntil([&] { return samplesDone == target; },
                                         std::chrono::milliseconds(20000)),
                     "Samples never came back");
    }
    void close() {
        bool closed = false;
        controller->strokesViewModel()->closeStroke([&] { closed = true; });
        precondition(MainQueue::runUntil([&] { return closed; }, std::chrono::milliseconds(20000)),
                     "The stroke never closed");
    }
    // A whole stroke from pen down to pen up.
    void stroke(const std::vector<CGPoint>& points) {
        enqueue(points);
        close();
    }
    // Waits for the GPU work committed so far, then runs the main queue dry.
    void settle() {
        const auto barrier = view->device()->newCommandQueue()->commandBuffer();
        barrier->commit();
        barrier->waitUntilCompleted();
        MainQueue::runUntilIdle();
    }
    // Frames until no stroke is queued, then every completion has run and the
    // undo group of this turn is closed.
    void drawUntilIdle() {
        for (int i = 0; i < 50 && controller->strokesViewModel()->front() != nullptr; ++i) {
            view->draw();
        }
        settle();
        settle();
        endTurn();
    }
};

// A short diagonal pen path in the canvas's lower left.
inline std::vector<CGPoint> diagonal(double from = 10, double to = 30) {
    std::vector<CGPoint> points;
    for (double t = from; t <= to; t += 2) {
        points.push_back({t, t * 0.7 + 4});
    }
    return points;
}

} // namespace velmora::testing
