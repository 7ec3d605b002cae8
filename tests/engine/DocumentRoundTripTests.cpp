#include "Canvas/CanvasArchive.hpp"
#include "Canvas/CanvasPreviews.hpp"
#include "Canvas/GroupLayer.hpp"
#include "EngineHarness.hpp"
#include "Reference.hpp"
#include "foundation/MainQueue.hpp"

#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::engine;
namespace ref = velmora::engine::reference;

namespace {

constexpr int64_t W = 40, H = 32;

ref::Picture8 pattern(uint8_t seed, bool holes) {
    ref::Picture8 p(W, H);
    uint32_t s = seed;
    for (auto& px : p.pixels) {
        s = s * 1664525u + 1013904223u;
        px = {uint8_t(s >> 24), uint8_t(s >> 16), uint8_t(s >> 8), uint8_t(holes ? s : 255)};
        if (px[3] == 0) {
            px = {0, 0, 0, 0};
        }
    }
    return p;
}

// Every layer with what the compositing reads of it, nested by group.
std::string treeOf(const Layers& layers) {
    std::string out;
    for (const auto& layer : layers) {
        out += layer->debugDescription() + " " + std::to_string(layer->visible()) + " " +
               std::to_string(layer->opacity());
        if (const auto group = std::dynamic_pointer_cast<GroupLayer>(layer)) {
            out += " [" + treeOf(group->immediateLayers()) + "]";
        }
        out += "; ";
    }
    return out;
}

std::vector<std::vector<uint8_t>> rows(const NSBitmapImageRep& b) {
    std::vector<std::vector<uint8_t>> out;
    for (int64_t y = 0; y < b.pixelsHigh(); ++y) {
        out.emplace_back(b.row(y), b.row(y) + 4 * b.pixelsWide());
    }
    return out;
}

// A painted canvas with a group goes through a stroke, is saved as a keyed
// archive with its previews, read back and composited again by a rendered
// canvas of its own: the same picture to the pixel, and previews of it.
TEST(DocumentRoundTrip, PaintedCanvasReadsBackPixelForPixel) {
    TestSettings settings;
    settings.settings.color = NSColor::colorWithSRGBRed(0.1, 0.3, 0.95, 0.8);
    Brush brush;
    brush.size = 9;
    brush.hardness = 0.4f;
    brush.stabilization = 2;
    settings.settings.setBaseBrush(brush);

    auto below = RasterLayer::make("Below", *ref::toBitmap(pattern(3, false)));
    auto paint = RasterLayer::make("Paint", *ref::toBitmap(pattern(9, true)));
    auto top = RasterLayer::make("Top", *ref::toBitmap(pattern(5, true)));
    top->setBlendMode(BlendMode::overlay);
    top->setOpacity(0.3f);
    auto group = GroupLayer::make("Group");
    group->setBlendMode(BlendMode::multiply);
    group->setOpacity(0.5f);
    group->setImmediateLayers({paint, top});
    auto canvas = LayeredCanvas::make(MTLSize{W, H, 1});
    canvas->setImmediateLayers({below, group, RasterLayer::make("Empty")});
    canvas->setActiveLayer(paint);

    auto engine = TestDrawingController::make(canvas, settings.settings);
    engine->enqueue({{{3, 4}, 0.4},
                     {{12, 9}, 0.8},
                     {{22, 15}, 1.0},
                     {{30, 22}, 0.9},
                     {{37, 29}, 0.5},
                     {{45, 33}, 0.3}});
    engine->closeStroke();
    engine->drawUntilIdle();
    ASSERT_EQ(engine->closedStrokes().size(), 1u);

    const auto flattened = engine->renderedCanvas->asBitmap();
    const auto previews = CanvasPreviews::makeStandardPreviews(flattened);
    const auto data = CanvasArchive::encodedData(*canvas, *previews);

    const auto readCanvas = CanvasArchive::readCanvas(data);
    const auto readPreviews = CanvasArchive::readPreviews(data);
    ASSERT_NE(readCanvas, nullptr);
    ASSERT_NE(readPreviews, nullptr);
    EXPECT_EQ(readCanvas->size(), canvas->size());
    EXPECT_EQ(readCanvas->activeLayer(), nullptr);
    EXPECT_EQ(treeOf(readCanvas->immediateLayers()), treeOf(canvas->immediateLayers()));

    RenderedCanvas again(readCanvas);
    const auto recomposited = again.asBitmap();
    EXPECT_EQ(rows(*recomposited), rows(*flattened));

    // The previews read back are the ones written: the same sizes, each close to
    // the picture it was scaled from (JPEG), the full one within a few levels.
    ASSERT_EQ(readPreviews->previews.size(), previews->previews.size());
    for (const auto& [size, bitmap] : previews->previews) {
        SCOPED_TRACE(size.width);
        ASSERT_EQ(readPreviews->previews.count(size), 1u);
        const auto& back = *readPreviews->previews.at(size);
        ASSERT_EQ(back.pixelSize(), bitmap->pixelSize());
        double error = 0;
        for (int64_t y = 0; y < back.pixelsHigh(); ++y) {
            for (int64_t x = 0; x < 4 * back.pixelsWide(); ++x) {
                error += std::abs(int(back.row(y)[x]) - int(bitmap->row(y)[x]));
            }
        }
        EXPECT_LT(error / double(back.pixelsHigh() * back.pixelsWide() * 4), 6.0);
    }
    // Previews made from the recomposited canvas are written as the same bytes.
    const auto again2 = CanvasArchive::encodedData(
        *readCanvas, *CanvasPreviews::makeStandardPreviews(recomposited));
    const auto previews2 = CanvasArchive::readPreviews(again2);
    for (const auto& [size, bitmap] : readPreviews->previews) {
        EXPECT_EQ(rows(*previews2->previews.at(size)), rows(*bitmap));
    }
}

} // namespace
