#include "Document/Viewers/StrokeSnapshot.hpp"
#include "DrawingTestSupport.hpp"
#include "Rendering/MetalHelper.hpp"
#include "Rendering/RenderedCanvas.hpp"

#include <cmath>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::testing;

namespace {

std::shared_ptr<NSBitmapImageRep> numbered(int64_t w, int64_t h) {
    auto bitmap = NSBitmapImageRep::makeRGBA8(w, h, ColorManagement::workingNSColorSpace());
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            uint8_t* p = bitmap->row(y) + 4 * x;
            p[0] = uint8_t(x), p[1] = uint8_t(y), p[2] = uint8_t(x * 7 + y * 3);
            p[3] = uint8_t(x < w / 2 ? 90 : 255 - y);
        }
    }
    return bitmap;
}

bool inside(const MTLRegion& r, int64_t x, int64_t y) {
    return x >= r.origin.x && y >= r.origin.y && x < r.origin.x + r.size.width &&
           y < r.origin.y + r.size.height;
}

} // namespace

// Only the parts come back, each at its place, rows in the bitmap's order;
// every other pixel of the destination is left as it was.
TEST(StrokeSnapshot, PartsComeBackAtTheirPlacesAndNothingElse) {
    struct Case {
        int64_t w, h;
        std::vector<MTLRegion> parts;
    };
    const std::vector<Case> cases{
        {70, 50, {makeMTLRegion(0, 0, 64, 50)}},
        // Runs of different widths, the last one cut by the bitmap's corner.
        {150,
         140,
         {makeMTLRegion(0, 0, 128, 64), makeMTLRegion(64, 64, 64, 64),
          makeMTLRegion(128, 128, 22, 12)}},
        {9, 3, {makeMTLRegion(2, 1, 5, 2)}},
        {20, 20, {}},
    };
    const auto queue = DispatchQueue::global(DispatchQoS::userInitiated);
    for (const Case& c : cases) {
        const auto bitmap = numbered(c.w, c.h);
        const auto snapshot = StrokeSnapshot::encode(bitmap, c.parts, queue);
        const auto packed = StrokeSnapshot::decodeSoon(snapshot, queue)();
        ASSERT_NE(packed, nullptr);
        // Into a destination larger than the bitmap, at an offset.
        const int64_t dw = c.w + 7, dh = c.h + 5;
        std::vector<uint8_t> dst(size_t(dw * dh * 4), 0xEE);
        const MTLTextureContents to{dst.data(), dw * 4, dw, dh, MTLPixelFormat::rgba8Unorm, 4};
        StrokeSnapshot::unpack(*packed, c.parts, to, {3, 4, 0});
        int restored = 0;
        for (int64_t y = 0; y < dh; ++y) {
            for (int64_t x = 0; x < dw; ++x) {
                const uint8_t* got = to.row(y) + 4 * x;
                bool inPart = false;
                for (const MTLRegion& part : c.parts) {
                    inPart |= inside(part, x - 3, y - 4);
                }
                if (inPart) {
                    restored += 1;
                    ASSERT_TRUE(std::equal(got, got + 4, bitmap->row(y - 4) + 4 * (x - 3)))
                        << c.w << "x" << c.h << " at " << x << "," << y;
                } else {
                    ASSERT_EQ(got[0], 0xEE) << c.w << "x" << c.h << " at " << x << "," << y;
                }
            }
        }
        int64_t expected = 0;
        for (const MTLRegion& part : c.parts) {
            expected += part.size.width * part.size.height;
        }
        EXPECT_EQ(restored, expected);
    }
}

namespace {

// A canvas of 3 x 2 tiles of 64: a half-transparent asymmetric layer under
// the one painted on, which starts empty, so the composite depends on both.
struct WideRig {
    static constexpr int64_t w = 192, h = 128;
    TestDrawingSettings settings;
    std::shared_ptr<TestDocument> document = std::make_shared<TestDocument>();
    std::shared_ptr<RasterLayer> under = RasterLayer::make("Under", *numbered(w, h));
    std::shared_ptr<RasterLayer> painted = RasterLayer::make("Painted");
    std::shared_ptr<LayeredCanvas> canvas = LayeredCanvas::make({w, h, 1}, under);
    std::shared_ptr<HeadlessViewHost> host = std::make_shared<HeadlessViewHost>(true);
    std::shared_ptr<MTKView> view = MTKView::make(MTLCreateSystemDefaultDevice());
    std::shared_ptr<Renderer> renderer;
    std::shared_ptr<DrawingController> controller;
    std::shared_ptr<TestDrawingDelegate> delegate = std::make_shared<TestDrawingDelegate>(view);

    WideRig() {
        canvas->insertLayer(painted, {1});
        canvas->setActiveLayer(painted);
        view->setHost(host);
        view->setBoundsSize({double(w), double(h)});
        view->setDrawableSize({double(w), double(h)});
        view->setPreferredFramesPerSecond(1);
        renderer = BenchmarkedRenderer::make(view, view->device());
        controller =
            DrawingController::make(renderer, std::make_shared<DisplayViewModel>(), canvas,
                                    document, document->undoManager, document, settings.settings);
        controller->setDelegate(delegate);
        endTurn();
        document->undoManager->removeAllActions();
    }
    ~WideRig() {
        controller = nullptr;
        MainQueue::runUntilIdle();
    }
    void settle() {
        const auto barrier = view->device()->newCommandQueue()->commandBuffer();
        barrier->commit();
        barrier->waitUntilCompleted();
        MainQueue::runUntilIdle();
    }
    void stroke(const std::vector<CGPoint>& points) {
        bool closed = false;
        size_t taken = 0;
        for (const auto& p : points) {
            controller->strokesViewModel()->enqueuePointEvent(p, 0.8f, [&](bool) { taken += 1; });
        }
        ASSERT_TRUE(MainQueue::runUntil([&] { return taken == points.size(); },
                                        std::chrono::milliseconds(20000)));
        controller->strokesViewModel()->closeStroke([&] { closed = true; });
        ASSERT_TRUE(MainQueue::runUntil([&] { return closed; }, std::chrono::milliseconds(20000)));
        for (int i = 0; i < 50 && controller->strokesViewModel()->front() != nullptr; ++i) {
            view->draw();
        }
        settle();
        settle();
        endTurn();
    }
    // Feeds pen samples and waits until the queue took them.
    void enqueue(const std::vector<CGPoint>& points) {
        size_t taken = 0;
        for (const auto& p : points) {
            controller->strokesViewModel()->enqueuePointEvent(p, 0.8f, [&](bool) { taken += 1; });
        }
        ASSERT_TRUE(MainQueue::runUntil([&] { return taken == points.size(); },
                                        std::chrono::milliseconds(20000)));
    }
    // The layer's pixels over the canvas, bottom row first, read through its TIFF.
    std::vector<uint8_t> layerTexels(const RasterLayer* layer = nullptr) {
        std::vector<uint8_t> out(size_t(w * h * 4), 0);
        for (const auto& patch : (layer ? layer : painted.get())->patches()) {
            const auto bitmap = NSBitmapImageRep::imageRepWithData(patch->tiffData());
            for (int64_t y = 0; y < bitmap->pixelsHigh(); ++y) {
                for (int64_t x = 0; x < bitmap->pixelsWide(); ++x) {
                    const int64_t cx = patch->origin.x + x;
                    const int64_t cy = patch->origin.y + bitmap->pixelsHigh() - 1 - y;
                    if (cx >= 0 && cy >= 0 && cx < w && cy < h) {
                        std::copy_n(bitmap->row(y) + 4 * x, 4, out.begin() + 4 * (cy * w + cx));
                    }
                }
            }
        }
        return out;
    }
    std::vector<uint8_t> flattened(BitmapRepresentable& source) {
        const auto bitmap = source.asBitmap();
        return {bitmap->bitmapData(), bitmap->bitmapData() + bitmap->dataSize()};
    }
};

} // namespace

// A stroke from the lower left to the upper right meets four of the six
// tiles: undo and redo put back exactly the layer's pixels, recomposite only
// those tiles, and the shown canvas equals a composite made from scratch.
TEST(StrokeSnapshot, UndoAndRedoWriteBackAndRecompositeOnlyTheStrokesTiles) {
    WideRig rig;
    const auto start = rig.layerTexels();
    std::vector<CGPoint> points;
    for (double t = 8; t <= 120; t += 2) {
        points.push_back({t, t * 0.5 + 4});
    }
    rig.stroke(points);
    const auto afterStroke = rig.layerTexels();
    ASSERT_NE(afterStroke, start);
    auto& undo = *rig.document->undoManager;
    ASSERT_TRUE(undo.canUndo());

    // Without a view to draw, the marks stay for the next frame to see.
    rig.delegate->view = nullptr;
    undo.undo();
    const auto dirty = rig.controller->renderedCanvas()->dirtyParts();
    EXPECT_TRUE(isEmpty(rig.controller->renderedCanvas()->dirtyRect()));
    MTLRegion bounds{};
    int64_t area = 0;
    for (const MTLRegion& part : dirty) {
        // Runs along one row of tiles, cut to the stroke's region.
        EXPECT_EQ(part.origin.y / 64, (part.origin.y + part.size.height - 1) / 64);
        bounds = unionWith(bounds, part);
        area += part.size.width * part.size.height;
    }
    EXPECT_GT(area, 0);
    EXPECT_LT(area, bounds.size.width * bounds.size.height) << "the whole region was redone";
    rig.delegate->view = rig.view;
    rig.view->draw();
    rig.settle();
    EXPECT_EQ(rig.layerTexels(), start);
    RenderedCanvas fresh(rig.canvas);
    EXPECT_EQ(rig.flattened(*rig.controller->renderedCanvas()), rig.flattened(fresh));

    endTurn();
    undo.redo();
    rig.settle();
    EXPECT_EQ(rig.layerTexels(), afterStroke);
    RenderedCanvas freshAfter(rig.canvas);
    EXPECT_EQ(rig.flattened(*rig.controller->renderedCanvas()), rig.flattened(freshAfter));
}

// Two strokes over a half-transparent layer, across tile edges and off the
// canvas, the second begun before the first one's close has come back: each
// undo puts back exactly the pixels before its stroke, each redo those after.
TEST(StrokeSnapshot, StrokesClosedWhileTheNextOneBeginsUndoExactly) {
    WideRig rig;
    rig.canvas->setActiveLayer(rig.under);
    endTurn();
    rig.document->undoManager->removeAllActions();
    const auto start = rig.layerTexels(rig.under.get());
    std::vector<CGPoint> first, second;
    for (double t = -10; t <= 200; t += 3) {
        first.push_back({t, 60 + 50 * std::sin(t / 30)});
        second.push_back({t * 0.9 + 5, 130 - t * 0.6});
    }
    rig.enqueue(first);
    bool closed = false;
    rig.controller->strokesViewModel()->closeStroke([&] { closed = true; });
    ASSERT_TRUE(MainQueue::runUntil([&] { return closed; }, std::chrono::milliseconds(20000)));
    rig.enqueue(second);
    // One frame finishes the first stroke and stamps the second; the first's
    // snapshots come back while the second is being drawn.
    rig.view->draw();
    rig.settle();
    endTurn(); // the first stroke's entry is a group of its own
    EXPECT_TRUE(rig.controller->isDrawing());
    const auto afterFirst = rig.layerTexels(rig.under.get());
    closed = false;
    rig.controller->strokesViewModel()->closeStroke([&] { closed = true; });
    ASSERT_TRUE(MainQueue::runUntil([&] { return closed; }, std::chrono::milliseconds(20000)));
    for (int i = 0; i < 50 && rig.controller->strokesViewModel()->front() != nullptr; ++i) {
        rig.view->draw();
    }
    rig.settle();
    rig.settle();
    endTurn();
    const auto afterBoth = rig.layerTexels(rig.under.get());
    ASSERT_NE(afterFirst, start);
    ASSERT_NE(afterBoth, afterFirst);

    auto& undo = *rig.document->undoManager;
    for (const auto* expected : {&afterFirst, &start}) {
        ASSERT_TRUE(undo.canUndo());
        undo.undo();
        rig.settle();
        endTurn();
        EXPECT_TRUE(rig.layerTexels(rig.under.get()) == *expected);
    }
    for (const auto* expected : {&afterFirst, &afterBoth}) {
        undo.redo();
        rig.settle();
        endTurn();
        EXPECT_TRUE(rig.layerTexels(rig.under.get()) == *expected);
    }
    RenderedCanvas fresh(rig.canvas);
    EXPECT_EQ(rig.flattened(*rig.controller->renderedCanvas()), rig.flattened(fresh));
}
