#include "Canvas/GroupLayer.hpp"
#include "EngineHarness.hpp"
#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "foundation/MainQueue.hpp"
#include "graphics/ColorManagement.hpp"

#include <gtest/gtest.h>
#include <random>

using namespace velmora;
using namespace velmora::engine;

namespace {

// Larger than one 64 x 64 tile each way, with cut tiles at the right and top.
constexpr int64_t W = 200, H = 136;

std::vector<uint8_t> bytesOf(const std::shared_ptr<MTLTexture>& texture) {
    const auto contents = texture->contents();
    std::vector<uint8_t> out;
    for (int64_t y = 0; y < texture->height(); ++y) {
        out.insert(out.end(), contents.row(y), contents.row(y) + 4 * texture->width());
    }
    return out;
}

std::shared_ptr<RasterLayer> noiseLayer(std::mt19937& random, int64_t w, int64_t h,
                                        BlendMode mode) {
    auto bitmap = NSBitmapImageRep::makeRGBA8(w, h, ColorManagement::workingNSColorSpace());
    std::uniform_int_distribution<int> byte(0, 255);
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            for (int c = 0; c < 4; ++c) {
                bitmap->row(y)[4 * x + c] = uint8_t(byte(random));
            }
        }
    }
    auto layer = RasterLayer::make("noise", *bitmap);
    layer->setBlendMode(mode);
    return layer;
}

// A pen wandering over the canvas, pressure varying.
std::vector<RawPoint> randomPath(std::mt19937& random) {
    std::uniform_real_distribution<double> x(10, W - 10), y(10, H - 10), step(-9, 9),
        pressure(0.2, 1);
    std::vector<RawPoint> path{{{x(random), y(random)}, pressure(random)}};
    for (int i = 0; i < 24; ++i) {
        const CGPoint& p = path.back().position;
        path.push_back({{p.x + 1.5 * step(random), p.y + step(random)}, pressure(random)});
    }
    return path;
}

struct Case {
    const char* name;
    bool erasing;
    bool inGroup;
    float opacity; // of the active layer
    bool backToBack;
};

// After a stroke's commit only the tiles that held it are composited again; the
// picture then must be the full recomposite of the committed layers, although the
// live stroke showed slightly different bits there.
TEST(CommitFrame, EqualsAFullRecomposite) {
    const Case cases[] = {
        {"painting", false, false, 1, false},
        {"erasing", true, false, 1, false},
        {"painting in a multiply group at 60 %", false, true, 1, false},
        {"erasing a layer at 40 % in a group", true, true, 0.4f, false},
        {"two strokes back to back", false, true, 0.7f, true},
    };
    unsigned seed = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::mt19937 random(++seed);
        TestSettings settings;
        settings.settings.color = NSColor::colorWithSRGBRed(0.9, 0.35, 0.1, 0.8);
        Brush brush;
        brush.size = 26;
        brush.hardness = 0.5f;
        brush.opacity = 0.8f;
        brush.spacing = 0.1f;
        brush.sizeDependsOnPressure = true;
        brush.sizeMinRatio = 0.3f;
        const auto tool = c.erasing ? DrawingTool::eraser : DrawingTool::brush;
        settings.settings.setPersistentTool(tool);
        settings.settings.setBaseBrush(brush);

        auto below = noiseLayer(random, W, H, BlendMode::sourceOver);
        auto active = noiseLayer(random, W - 30, H - 20, BlendMode::overlay);
        active->setOpacity(c.opacity);
        auto above = noiseLayer(random, 90, 70, BlendMode::linearDodge);
        above->moveContents(MTLVector(70, 40, 0));
        auto canvas = LayeredCanvas::make(MTLSize{W, H, 1});
        if (c.inGroup) {
            auto group = GroupLayer::make("Group");
            group->setBlendMode(BlendMode::multiply);
            group->setOpacity(0.6f);
            group->setImmediateLayers({noiseLayer(random, 80, 60, BlendMode::sourceOver), active});
            canvas->setImmediateLayers({below, group, above});
        } else {
            canvas->setImmediateLayers({below, active, above});
        }
        canvas->setActiveLayer(active);

        auto engine = TestDrawingController::make(canvas, settings.settings, false);
        engine->drawFrame();
        engine->settle();
        const auto start = bytesOf(engine->renderedCanvas->texture());
        engine->enqueue(randomPath(random));
        engine->closeStroke();
        if (c.backToBack) {
            // The second stroke is stamped before the first one's commit arrives.
            engine->drawFrame();
            engine->enqueue(randomPath(random));
            engine->drawFrame();
            engine->closeStroke();
        }
        engine->drawUntilIdle();

        ASSERT_TRUE(isEmpty(engine->renderedCanvas->dirtyRect()));
        ASSERT_TRUE(engine->renderedCanvas->dirtyParts().empty());
        const auto shown = bytesOf(engine->renderedCanvas->texture());
        RenderedCanvas full(canvas);
        full.asBitmap();
        EXPECT_NE(shown, start) << "the stroke shows";
        const auto expected = bytesOf(full.texture());
        size_t differing = 0;
        for (size_t i = 0; i < shown.size(); ++i) {
            differing += shown[i] != expected[i];
        }
        EXPECT_EQ(differing, 0u);
    }
}

// Parts given one by one composite exactly what a region over all of them would,
// and leave the pixels between them alone.
TEST(CommitFrame, DirtyPartsLeaveThePixelsBetweenThem) {
    std::mt19937 random(11);
    auto below = noiseLayer(random, W, H, BlendMode::sourceOver);
    auto top = noiseLayer(random, W - 40, H, BlendMode::multiply);
    auto canvas = LayeredCanvas::make(MTLSize{W, H, 1});
    canvas->setImmediateLayers({below, top});
    RenderedCanvas rendered(canvas);
    rendered.asBitmap();
    const auto before = bytesOf(rendered.texture());
    top->setOpacity(0.5f);
    // Inside, across the tile grid at 128 and past the canvas's right edge.
    const std::vector<MTLRegion> parts = {
        makeMTLRegion(3, 5, 40, 20), makeMTLRegion(100, 60, 60, 70), makeMTLRegion(180, 0, 64, 64)};
    rendered.needsUpdateIn(parts);
    rendered.asBitmap();
    const auto after = bytesOf(rendered.texture());
    RenderedCanvas full(canvas);
    full.asBitmap();
    const auto expected = bytesOf(full.texture());
    for (int64_t y = 0; y < H; ++y) {
        for (int64_t x = 0; x < W; ++x) {
            const MTLRegion pixel = makeMTLRegion(x, y, 1, 1);
            bool inPart = false;
            for (const auto& part : parts) {
                inPart |= contains(part, pixel);
            }
            const size_t i = size_t(4 * (y * W + x));
            const auto& want = inPart ? expected : before;
            ASSERT_TRUE(std::equal(after.begin() + long(i), after.begin() + long(i) + 4,
                                   want.begin() + long(i)))
                << x << ", " << y << (inPart ? " in a part" : " between parts");
        }
    }
}

} // namespace
