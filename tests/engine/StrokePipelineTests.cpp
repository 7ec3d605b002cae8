#include "Canvas/GroupLayer.hpp"
#include "EngineHarness.hpp"
#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "Reference.hpp"
#include "foundation/MainQueue.hpp"
#include "graphics/ColorManagement.hpp"

#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::engine;
namespace ref = velmora::engine::reference;
using Kind = TestDrawingController::Event::Kind;

namespace {

constexpr int64_t W = 48, H = 40;

// A pen path as a tablet reports it, canvas pixels and pressure: a stroke that
// starts light, presses down through a curve and lifts again.
const std::vector<RawPoint> penPath = {
    {{6.2, 9.8}, 0.18},   {{8.9, 11.1}, 0.27},  {{11.7, 12.9}, 0.39}, {{14.8, 15.2}, 0.52},
    {{17.6, 17.0}, 0.63}, {{20.9, 19.4}, 0.74}, {{24.1, 21.1}, 0.83}, {{27.5, 22.2}, 0.90},
    {{30.8, 22.6}, 0.96}, {{33.6, 22.1}, 1.00}, {{36.2, 20.7}, 0.97}, {{38.1, 18.4}, 0.88},
    {{39.2, 15.6}, 0.74}, {{39.5, 12.8}, 0.58}, {{39.1, 10.3}, 0.41}, {{38.4, 8.6}, 0.22},
};

std::vector<RawPoint> shifted(const std::vector<RawPoint>& path, double dx, double dy) {
    auto out = path;
    for (auto& p : out) {
        p.position.x += dx;
        p.position.y += dy;
    }
    return out;
}

// Opaque colours that change across the canvas.
ref::Picture8 gradient() {
    ref::Picture8 p(W, H);
    for (int64_t y = 0; y < H; ++y) {
        for (int64_t x = 0; x < W; ++x) {
            p.at(x, y) = {uint8_t(40 + 4 * x), uint8_t(220 - 4 * y), uint8_t(90 + (x * y) % 97),
                          255};
        }
    }
    return p;
}

// Partly transparent paint in bands, so erasing and blending both show.
ref::Picture8 paint() {
    ref::Picture8 p(W, H);
    for (int64_t y = 0; y < H; ++y) {
        for (int64_t x = 0; x < W; ++x) {
            p.at(x, y) =
                x < 8 ? ref::RGBA8{0, 0, 0, 0}
                      : ref::RGBA8{uint8_t(30 + 3 * y), 60, uint8_t(200 - 2 * x), uint8_t(150 + x)};
        }
    }
    return p;
}

Brush testBrush(float size) {
    Brush b;
    b.name = "Test";
    b.size = size;
    b.hardness = 0.6f;
    b.opacity = 0.85f;
    b.spacing = 0.1f;
    b.sizeDependsOnPressure = true;
    b.sizeMinRatio = 0.3f;
    b.opacityDependsOnPressure = true;
    b.opacityMinRatio = 0.5f;
    b.stabilization = 3;
    return b;
}

struct Scene {
    std::shared_ptr<LayeredCanvas> canvas;
    std::shared_ptr<RasterLayer> paintLayer;
    ref::Picture8 below = gradient(), paintPixels = paint();
    bool inGroup = false;

    explicit Scene(bool group) : inGroup(group) {
        auto belowLayer = RasterLayer::make("Below", *ref::toBitmap(below));
        paintLayer = RasterLayer::make("Paint", *ref::toBitmap(paintPixels));
        canvas = LayeredCanvas::make(MTLSize{W, H, 1});
        if (group) {
            auto g = GroupLayer::make("Group");
            g->setBlendMode(BlendMode::multiply);
            g->setOpacity(0.5f);
            g->setImmediateLayers({paintLayer});
            canvas->setImmediateLayers({belowLayer, g});
        } else {
            canvas->setImmediateLayers({belowLayer, paintLayer});
        }
        canvas->setActiveLayer(paintLayer);
    }

    // The flattened picture with the paint layer's pixels as given.
    ref::Picture8 expected(const ref::Picture8& paintNow) const {
        ref::Node b{BlendMode::sourceOver, 1, true, below, {}, false};
        ref::Node p{BlendMode::sourceOver, 1, true, paintNow, {}, false};
        if (inGroup) {
            ref::Node g{BlendMode::multiply, 0.5, true, {}, {p}, true};
            return ref::flatten({b, g}, W, H);
        }
        return ref::flatten({b, p}, W, H);
    }
};

class StrokePipeline : public ::testing::Test {
protected:
    void SetUp() override {
        settings.settings.color = NSColor::colorWithSRGBRed(0.92, 0.18, 0.08, 1.0);
        for (const auto tool : {DrawingTool::eraser, DrawingTool::brush}) {
            settings.settings.setPersistentTool(tool);
            settings.settings.setBaseBrush(testBrush(tool == DrawingTool::eraser ? 14 : 11));
        }
    }
    void TearDown() override { MainQueue::runUntilIdle(); }

    // The pixels of the region in a snapshot bitmap, whose rows are canvas rows
    // from the region's origin up.
    static ref::Picture8 snapshot(const NSBitmapImageRep& bitmap) {
        ref::Picture8 p(bitmap.pixelsWide(), bitmap.pixelsHigh());
        for (int64_t y = 0; y < p.height; ++y) {
            for (int64_t x = 0; x < p.width; ++x) {
                const uint8_t* px = bitmap.row(y) + 4 * x;
                p.at(x, y) = {px[0], px[1], px[2], px[3]};
            }
        }
        return p;
    }
    static ref::Picture8 crop(const ref::Picture8& p, const MTLRegion& r) {
        ref::Picture8 out(r.size.width, r.size.height);
        for (int64_t y = 0; y < r.size.height; ++y) {
            for (int64_t x = 0; x < r.size.width; ++x) {
                out.at(x, y) = p.at(r.origin.x + x, r.origin.y + y);
            }
        }
        return out;
    }
    static ref::Picture8 presented(const TestDrawingController& c) {
        const auto frame = c.host->lastFrame();
        precondition(frame != nullptr, "No frame was presented");
        return ref::fromBitmap(*frame);
    }

    TestSettings settings;
};

struct Case {
    const char* name;
    DrawingTool tool;
    bool inGroup;
    double dx, dy; // moves the pen path, past the canvas edge for some
};

TEST_F(StrokePipeline, StrokeFromPenToFlattenedCanvas) {
    const Case cases[] = {
        {"painting", DrawingTool::brush, false, 0, 0},
        {"erasing", DrawingTool::eraser, false, 0, 0},
        {"multiply group at half opacity", DrawingTool::brush, true, 0, 0},
        {"off the left and top edges", DrawingTool::brush, false, -14, 16},
        {"erasing off the right edge", DrawingTool::eraser, true, 20, -3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        settings.settings.setPersistentTool(c.tool);
        const bool erasing = c.tool == DrawingTool::eraser;
        Scene scene(c.inGroup);
        auto engine = TestDrawingController::make(scene.canvas, settings.settings);

        // The first frame shows the canvas as it is.
        engine->drawFrame();
        engine->settle();
        const auto start = scene.expected(scene.paintPixels);
        auto d = ref::compare(presented(*engine), start, 2);
        EXPECT_EQ(d.pixels, 0) << "first frame: " << ref::describe(d);

        // Half the samples: the presented frame shows the stroke in progress.
        const auto path = shifted(penPath, c.dx, c.dy);
        engine->enqueue({path.begin(), path.begin() + 9});
        engine->drawFrame();
        engine->settle();
        ASSERT_EQ(engine->strokeDots.size(), 1u);
        const auto soFar = ref::stamp(W, H, engine->strokeDots[0]);
        const auto live = scene.expected(ref::blendStroke(scene.paintPixels, soFar, erasing));
        d = ref::compare(presented(*engine), live, 2, &start);
        EXPECT_EQ(d.pixels, 0) << "live frame: " << ref::describe(d);
        EXPECT_GT(d.changed, 20) << "the stroke in progress shows";
        EXPECT_TRUE(engine->renderer->isLiveRendering());

        engine->enqueue({path.begin() + 9, path.end()});
        engine->closeStroke();
        engine->drawUntilIdle();

        // The dots as the frames found them are the ones the queue makes for the
        // same samples.
        ASSERT_EQ(engine->strokeDots.size(), 1u);
        const auto& dots = engine->strokeDots[0];
        ASSERT_GT(dots.size(), 20u);
        EXPECT_TRUE(engine->closedStrokes() ==
                    std::vector<std::vector<StrokesViewModel::Dot>>{dots});
        bool leavesCanvas = false;
        for (const auto& dot : dots) {
            EXPECT_EQ(dot.color == nullptr, erasing);
            const auto& p = dot.position;
            leavesCanvas |= p.x - dot.radius < 0 || p.y - dot.radius < 0 || p.x + dot.radius > W ||
                            p.y + dot.radius > H;
        }
        EXPECT_EQ(leavesCanvas, c.dx != 0 || c.dy != 0);

        const auto strokePicture = ref::stamp(W, H, dots);
        const auto paintAfter = ref::blendStroke(scene.paintPixels, strokePicture, erasing);
        const auto want = scene.expected(paintAfter);
        const auto flat = ref::fromBitmap(*engine->renderedCanvas->asBitmap());
        d = ref::compare(flat, want, 2, &start);
        EXPECT_EQ(d.pixels, 0) << "flattened: " << ref::describe(d);
        EXPECT_GT(d.changed, 60) << "the stroke is in the layer";
        // The frame that followed the stroke shows exactly the flattened canvas.
        d = ref::compare(presented(*engine), flat, 0);
        EXPECT_EQ(d.pixels, 0) << "last frame: " << ref::describe(d);

        // The calls the drawing controller saw, in order.
        const auto& ev = engine->events;
        ASSERT_GE(ev.size(), 5u);
        EXPECT_EQ(ev.front().kind, Kind::began);
        MTLRegion drawn{};
        int pasted = 0, committed = 0, began = 0, ended = 0;
        size_t pasteAt = 0, endAt = 0, commitAt = 0;
        for (size_t i = 0; i < ev.size(); ++i) {
            switch (ev[i].kind) {
            case Kind::began:
                began += 1;
                break;
            case Kind::drew:
                if (pasted == 0) {
                    drawn = unionWith(drawn, ev[i].region);
                }
                break;
            case Kind::pasted:
                pasted += 1, pasteAt = i;
                break;
            case Kind::ended:
                ended += 1, endAt = i;
                break;
            case Kind::committed:
                committed += 1, commitAt = i;
                break;
            }
        }
        EXPECT_EQ((std::array{began, pasted, ended, committed}), (std::array{1, 1, 1, 1}));
        EXPECT_LT(pasteAt, endAt);
        EXPECT_LT(endAt, commitAt);
        ASSERT_EQ(commitAt + 2, ev.size());
        EXPECT_EQ(ev.back().kind, Kind::drew);

        // Every region lies inside the canvas; the pasted, committed and last
        // redrawn regions are the union of the batches' regions.
        const MTLRegion canvasRegion = makeMTLRegion(0, 0, W, H);
        EXPECT_FALSE(isEmpty(drawn));
        EXPECT_TRUE(contains(canvasRegion, drawn));
        EXPECT_EQ(ev[pasteAt].region, drawn);
        EXPECT_EQ(ev[commitAt].region, drawn);
        EXPECT_EQ(ev.back().region, drawn);

        // The undo snapshots hold the region before and after the stroke.
        const auto& commit = ev[commitAt];
        EXPECT_EQ(ref::compare(snapshot(*commit.before), crop(scene.paintPixels, drawn), 0).pixels,
                  0);
        d = ref::compare(snapshot(*commit.after), crop(paintAfter, drawn), 1);
        EXPECT_EQ(d.pixels, 0) << "after snapshot: " << ref::describe(d);

        EXPECT_FALSE(engine->renderer->isLiveRendering());
    }
}

// The second stroke starts before the GPU work of the first has been seen
// complete: one beginning and one end bracket both, each gets its own paste and
// snapshots, and the canvas holds both in order.
TEST_F(StrokePipeline, TwoStrokesBackToBack) {
    Scene scene(false);
    auto engine = TestDrawingController::make(scene.canvas, settings.settings);
    settings.settings.setPersistentTool(DrawingTool::brush);
    const auto first = penPath;
    const auto second = shifted(penPath, 2, 9);

    engine->enqueue({first.begin(), first.begin() + 8});
    engine->drawFrame();
    engine->enqueue({first.begin() + 8, first.end()});
    engine->closeStroke();
    settings.settings.setPersistentTool(DrawingTool::eraser);
    engine->enqueue({second.begin(), second.begin() + 10});
    // This frame blends the first stroke and stamps the start of the second.
    engine->drawFrame();
    const size_t frameEnd = engine->events.size();
    engine->enqueue({second.begin() + 10, second.end()});
    engine->closeStroke();
    engine->drawUntilIdle();

    const auto& ev = engine->events;
    std::vector<size_t> pastes, commits, begins, ends, draws;
    for (size_t i = 0; i < ev.size(); ++i) {
        std::vector<size_t>* list[] = {&begins, &draws, &pastes, &commits, &ends};
        list[int(ev[i].kind)]->push_back(i);
    }
    ASSERT_EQ(pastes.size(), 2u);
    ASSERT_EQ(commits.size(), 2u);
    EXPECT_EQ(begins, std::vector<size_t>{0});
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_GT(ends[0], pastes[1]) << "drawing ends only after the second stroke";
    EXPECT_LT(pastes[0], frameEnd);
    bool secondDrawnBeforeFirstCommitted = false;
    for (size_t i = pastes[0] + 1; i < frameEnd; ++i) {
        secondDrawnBeforeFirstCommitted |= ev[i].kind == Kind::drew && !isEmpty(ev[i].region);
    }
    EXPECT_TRUE(secondDrawnBeforeFirstCommitted);
    EXPECT_GE(commits[0], frameEnd) << "the first stroke commits after the frame";
    EXPECT_NE(ev[commits[0]].region, ev[commits[1]].region);

    const auto strokes = engine->closedStrokes();
    ASSERT_EQ(strokes.size(), 2u);
    EXPECT_NE(strokes[0].front().color, nullptr);
    EXPECT_EQ(strokes[1].front().color, nullptr);
    const auto afterFirst =
        ref::blendStroke(scene.paintPixels, ref::stamp(W, H, strokes[0]), false);
    const auto afterBoth = ref::blendStroke(afterFirst, ref::stamp(W, H, strokes[1]), true);
    const auto start = scene.expected(scene.paintPixels);
    const auto d = ref::compare(ref::fromBitmap(*engine->renderedCanvas->asBitmap()),
                                scene.expected(afterBoth), 2, &start);
    EXPECT_EQ(d.pixels, 0) << ref::describe(d);
    EXPECT_GT(d.changed, 100);
    // The second stroke's snapshot starts from the first stroke's result.
    const auto& before2 = ev[commits[1]];
    EXPECT_EQ(ref::compare(snapshot(*before2.before), crop(afterFirst, before2.region), 1).pixels,
              0);
}

} // namespace
