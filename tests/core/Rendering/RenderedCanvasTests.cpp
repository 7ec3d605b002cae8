#include "Canvas/FilledLayer.hpp"
#include "CompositingTestSupport.hpp"
#include "foundation/LogCapture.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::testing;
using Kind = MTLCommandTraceEntry::Kind;

namespace {

const RGBA8 white{255, 255, 255, 255};

std::shared_ptr<MTLCommandBuffer> newBuffer() {
    return MetalHelper::shared()->commandQueue()->commandBuffer();
}

void computeAndWait(RenderedCanvas& rendered) {
    const auto buffer = newBuffer();
    rendered.compute(buffer);
    buffer->commit();
    buffer->waitUntilCompleted();
    ASSERT_EQ(buffer->status(), MTLCommandBufferStatus::completed);
}

std::vector<std::string> debugGroups(const MTLCommandBuffer& buffer) {
    std::vector<std::string> names;
    for (const auto& entry : buffer.debugTrace()) {
        if (entry.kind == Kind::pushDebugGroup) {
            names.push_back(entry.label.value_or(""));
        }
    }
    return names;
}

TEST(RenderedCanvas, EveryModeOverAPartialLayer) {
    const RGBA8 lower{200, 100, 50, 200};
    const BlendMode modes[] = {BlendMode::sourceOver, BlendMode::multiply,    BlendMode::overlay,
                               BlendMode::linearBurn, BlendMode::linearDodge, BlendMode::eraser};
    for (BlendMode mode : modes) {
        for (uint8_t alpha : {uint8_t(0), uint8_t(128), uint8_t(255)}) {
            const RGBA8 upper{30, 160, 240, alpha};
            auto canvas = canvasOf({4, 4, 1}, {solidLayer("lower", 4, 4, lower),
                                               solidLayer("upper", 4, 4, upper, mode)});
            RenderedCanvas rendered(canvas);
            const auto bitmap = rendered.asBitmap();
            const RGBA8 below = referenceBlend(BlendMode::sourceOver, lower, 1, white);
            EXPECT_THAT(pixelAt(*bitmap, 2, 1), NearPixel(referenceBlend(mode, upper, 1, below)))
                << rawValue(mode) << " alpha " << int(alpha);
        }
    }
}

TEST(RenderedCanvas, LayersOnlyWhereTheyHavePixels) {
    // A 2 x 2 layer in the corner of a 4 x 4 canvas: the rest stays white.
    auto canvas = canvasOf({4, 4, 1}, {solidLayer("dot", 2, 2, {0, 0, 255, 255})});
    RenderedCanvas rendered(canvas);
    const auto bitmap = rendered.asBitmap();
    // Texture row 0 is the bottom of the picture, the bitmap's last row.
    EXPECT_EQ(pixelAt(*bitmap, 0, 3), (RGBA8{0, 0, 255, 255}));
    EXPECT_EQ(pixelAt(*bitmap, 1, 2), (RGBA8{0, 0, 255, 255}));
    EXPECT_EQ(pixelAt(*bitmap, 2, 3), white);
    EXPECT_EQ(pixelAt(*bitmap, 0, 1), white);
}

TEST(RenderedCanvas, DirtyRegionRules) {
    auto canvas = canvasOf({64, 32, 1}, {solidLayer("a", 8, 8, {1, 2, 3, 255})});
    RenderedCanvas rendered(canvas);
    EXPECT_EQ(rendered.dirtyRect(), makeMTLRegion(0, 0, 64, 32));

    const auto first = newBuffer();
    rendered.compute(first);
    EXPECT_EQ(rendered.dirtyRect(), MTLRegion{});
    EXPECT_FALSE(first->debugTrace().empty());
    first->commit();
    const auto second = newBuffer();
    rendered.compute(second);
    EXPECT_TRUE(second->debugTrace().empty());
    second->commit();
    second->waitUntilCompleted();

    const struct {
        std::vector<MTLRegion> marked;
        MTLRegion dirty;
    } cases[] = {
        {{makeMTLRegion(60, 30, 10, 10)}, makeMTLRegion(60, 30, 4, 2)},
        {{makeMTLRegion(-5, -5, 10, 10)}, makeMTLRegion(0, 0, 5, 5)},
        {{makeMTLRegion(64, 0, 10, 10)}, MTLRegion{}},
        {{makeMTLRegion(-20, 0, 10, 10)}, MTLRegion{}},
        {{makeMTLRegion(1, 1, 2, 2), makeMTLRegion(10, 20, 5, 1)}, makeMTLRegion(1, 1, 14, 20)},
        {{makeMTLRegion(1, 1, 2, 2), makeMTLRegion(100, 100, 5, 5)}, makeMTLRegion(1, 1, 2, 2)},
    };
    for (const auto& c : cases) {
        for (const auto& region : c.marked) {
            rendered.needsUpdate(region);
        }
        EXPECT_EQ(rendered.dirtyRect(), c.dirty) << c.marked.front();
        const auto buffer = newBuffer();
        rendered.compute(buffer);
        buffer->commit();
        buffer->waitUntilCompleted();
    }
}

TEST(RenderedCanvas, OnlyTheDirtyRegionIsRecomposited) {
    const RGBA8 color{10, 20, 30, 255};
    auto layer = solidLayer("a", 8, 8, color);
    auto canvas = canvasOf({8, 8, 1}, {layer});
    RenderedCanvas rendered(canvas);
    computeAndWait(rendered);
    layer->setVisible(false);
    // Columns 3 to 6 of texture rows 2 to 6, which are bitmap rows 5 down to 1.
    rendered.needsUpdate(makeMTLRegion(3, 2, 4, 5));
    const auto bitmap = rendered.asBitmap();
    EXPECT_EQ(pixelAt(*bitmap, 3, 5), white);
    EXPECT_EQ(pixelAt(*bitmap, 6, 1), white);
    EXPECT_EQ(pixelAt(*bitmap, 2, 3), color);
    EXPECT_EQ(pixelAt(*bitmap, 7, 3), color);
    EXPECT_EQ(pixelAt(*bitmap, 4, 0), color);
    EXPECT_EQ(pixelAt(*bitmap, 4, 6), color);
}

TEST(RenderedCanvas, TilesOfAtMost2048) {
    const struct {
        int64_t width;
        std::vector<std::string> groups;
    } cases[] = {
        // The tiles of one region share one command.
        {2049, {"{(0, 0), 2049 x 2}"}},
        {2048, {"{(0, 0), 2048 x 2}"}},
    };
    for (const auto& c : cases) {
        auto layer = solidLayer("a", c.width, 2, {9, 8, 7, 255});
        auto canvas = canvasOf({c.width, 2, 1}, {layer});
        RenderedCanvas rendered(canvas);
        const auto buffer = newBuffer();
        rendered.compute(buffer);
        EXPECT_EQ(debugGroups(*buffer), c.groups);
        buffer->commit();
        buffer->waitUntilCompleted();
        const auto bitmap = rendered.asBitmap();
        EXPECT_EQ(pixelAt(*bitmap, c.width - 1, 0), (RGBA8{9, 8, 7, 255}));
        EXPECT_EQ(pixelAt(*bitmap, 2047, 1), (RGBA8{9, 8, 7, 255}));
    }
}

TEST(RenderedCanvas, IntermediateTexturesFollowTheTreeDepth) {
    auto leaf = solidLayer("leaf", 4, 4, {1, 1, 1, 255});
    auto canvas = canvasOf({4, 4, 1}, {leaf});
    RenderedCanvas rendered(canvas);
    LogCapture capture;
    const auto run = [&] {
        rendered.needsUpdate(makeMTLRegion(0, 0, 4, 4));
        computeAndWait(rendered);
        return rendered.intermediateTextures().size();
    };
    EXPECT_EQ(run(), 2u);
    canvas->setImmediateLayers(
        {group("outer", {group("inner", {solidLayer("x", 2, 2, {1, 2, 3, 4})})})});
    EXPECT_EQ(run(), 4u);
    EXPECT_EQ(run(), 4u);
    canvas->setImmediateLayers({leaf});
    EXPECT_EQ(run(), 2u);
    EXPECT_EQ(capture.messages("Rendering Statistics"),
              (std::vector<std::string>{"Allocated 2 intermediate textures, total: 2.",
                                        "Allocated 2 intermediate textures, total: 4.",
                                        "Removed 2 intermediate textures, total: 2."}));
    std::vector<std::string> labels;
    canvas->setImmediateLayers({group("g", {leaf})});
    run();
    for (const auto& texture : rendered.intermediateTextures()) {
        labels.push_back(texture->label().value_or(""));
        EXPECT_EQ(size(*texture), (MTLSize{2048, 2048, 1}));
        EXPECT_EQ(texture->pixelFormat(), MTLPixelFormat::rgba8Unorm);
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"Intermediate image for depth 0",
                                                "Intermediate image for depth 1",
                                                "Intermediate image for depth 2"}));
    EXPECT_EQ(capture.messages("Rendering Statistics").back(),
              "Allocated 1 intermediate textures, total: 3.");
}

TEST(RenderedCanvas, AsBitmapIsRightSideUp) {
    auto source = NSBitmapImageRep::makeRGBA8(5, 3, ColorManagement::workingNSColorSpace());
    for (int64_t y = 0; y < 3; ++y) {
        for (int64_t x = 0; x < 5; ++x) {
            uint8_t* p = source->row(y) + 4 * x;
            p[0] = uint8_t(40 * x + 5);
            p[1] = uint8_t(70 * y + 9);
            p[2] = uint8_t(x * y + 1);
            p[3] = 255;
        }
    }
    auto canvas = canvasOf({5, 3, 1}, {RasterLayer::make("picture", *source)});
    RenderedCanvas rendered(canvas);
    const auto bitmap = rendered.asBitmap();
    ASSERT_EQ(bitmap->pixelSize(), (MTLSize{5, 3, 1}));
    for (int64_t y = 0; y < 3; ++y) {
        for (int64_t x = 0; x < 5; ++x) {
            EXPECT_EQ(pixelAt(*bitmap, x, y), pixelAt(*source, x, y)) << x << ", " << y;
        }
    }
}

TEST(RenderedCanvas, AsBitmapWaitsForFramesCommittedBefore) {
    auto layer = solidLayer("a", 8, 8, {50, 60, 70, 255});
    auto canvas = canvasOf({8, 8, 1}, {layer});
    RenderedCanvas rendered(canvas);
    // A frame composites and is committed but may still run when the save asks.
    const auto frame = newBuffer();
    rendered.compute(frame);
    frame->commit();
    EXPECT_EQ(rendered.dirtyRect(), MTLRegion{});
    const auto bitmap = rendered.asBitmap();
    EXPECT_EQ(frame->status(), MTLCommandBufferStatus::completed);
    EXPECT_EQ(pixelAt(*bitmap, 7, 7), (RGBA8{50, 60, 70, 255}));
}

TEST(RenderedCanvas, EmptyLayersGiveWhite) {
    auto canvas = canvasOf({4, 4, 1}, {raster("a"), group("g", {raster("b")}), group("e", {})});
    RenderedCanvas rendered(canvas);
    const auto bitmap = rendered.asBitmap();
    EXPECT_EQ(pixelAt(*bitmap, 0, 0), white);
    EXPECT_EQ(pixelAt(*bitmap, 3, 3), white);
}

TEST(RenderedCanvas, Pruning) {
    using Tree = RenderedCanvas::LayerNodeTree;
    const CIImage some = CIImage(CIColor{1, 0, 0, 1}).cropped({{0, 0}, {2, 2}});
    auto active = raster("active");
    auto filled = raster("filled");
    auto empty = raster("empty");
    const auto node = [](const std::shared_ptr<Layer>& layer, const CIImage& image) {
        return Tree::make({image, layer});
    };
    const auto groupNode = [](const std::string& name, std::vector<Tree::Pointer> children) {
        auto n = Tree::make({CIImage::empty(), GroupLayer::make(name)});
        n->addChildren(children);
        return n;
    };
    const auto names = [](const Tree::Pointer& tree) {
        std::vector<std::string> out;
        if (tree) {
            tree->recursiveForEach([&](const RenderedCanvas::LayerNode& v, const auto& parents) {
                out.push_back(std::string(parents.size(), '-') + v.layer->name());
            });
        }
        return out;
    };
    auto tree =
        groupNode("root", {node(empty, CIImage::empty()), node(active, CIImage::empty()),
                           groupNode("allEmpty", {node(empty, CIImage::empty())}),
                           groupNode("childless", {}), groupNode("kept", {node(filled, some)})});
    const auto pruned = RenderedCanvas::prune(tree, active);
    EXPECT_EQ(names(pruned), (std::vector<std::string>{"root", "-active", "-kept", "--filled"}));
    ASSERT_NE(pruned, nullptr);
    EXPECT_EQ(pruned->children[1]->parent.lock(), pruned);
    // Without an active layer every empty leaf goes, and with it the whole tree.
    EXPECT_EQ(RenderedCanvas::prune(groupNode("root", {node(active, CIImage::empty())}), nullptr),
              nullptr);
    EXPECT_EQ(names(RenderedCanvas::prune(node(FilledLayer::make("white", CIColor::white()), some),
                                          nullptr)),
              (std::vector<std::string>{"white"}));
}

TEST(RenderedCanvas, EmptyActiveLayerIsComposited) {
    auto active = raster("active");
    active->setBlendMode(BlendMode::eraser);
    auto canvas = canvasOf({4, 4, 1}, {active}, active);
    RenderedCanvas rendered(canvas);
    // Still white: the empty eraser layer erases nothing, yet it takes part.
    EXPECT_EQ(pixelAt(*rendered.asBitmap(), 1, 1), white);
    EXPECT_EQ(rendered.intermediateTextures().size(), 2u);
}

TEST(RenderedCanvas, VisibilityAndOpacityOfLayersAndGroups) {
    const RGBA8 red{255, 0, 0, 255}, blue{0, 0, 255, 255};
    const RGBA8 halfBlueOverRed = referenceBlend(BlendMode::sourceOver, blue, 0.5, red);
    const struct {
        const char* name;
        bool groupVisible;
        float groupOpacity;
        bool childVisible;
        float childOpacity;
        RGBA8 expected;
    } cases[] = {
        {"plain", true, 1, true, 1, blue},
        {"hidden child", true, 1, false, 1, red},
        {"hidden group", false, 1, true, 1, red},
        {"hidden group, half opacity", false, 0.5, true, 1, red},
        {"half child", true, 1, true, 0.5, halfBlueOverRed},
        // The group's opacity applies once to its composited children: two
        // opaque children at half group opacity show half blue, not 3/4.
        {"half group", true, 0.5, true, 1, halfBlueOverRed},
    };
    for (const auto& c : cases) {
        auto first = solidLayer("first", 4, 4, blue);
        auto second = solidLayer("second", 4, 4, blue);
        first->setVisible(c.childVisible);
        first->setOpacity(c.childOpacity);
        second->setVisible(c.childVisible);
        second->setOpacity(c.childOpacity);
        auto g = group("g", {first, second});
        g->setVisible(c.groupVisible);
        g->setOpacity(c.groupOpacity);
        auto canvas = canvasOf({4, 4, 1}, {solidLayer("red", 4, 4, red), g});
        RenderedCanvas rendered(canvas);
        const RGBA8 expected =
            std::string(c.name) == "half child"
                ? referenceBlend(BlendMode::sourceOver, blue, 0.5, halfBlueOverRed)
                : c.expected;
        EXPECT_THAT(pixelAt(*rendered.asBitmap(), 0, 0), NearPixel(expected)) << c.name;
    }
}

} // namespace
