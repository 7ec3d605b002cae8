#include "CompositingTestSupport.hpp"
#include "Rendering/LiveRenderedCanvas.hpp"
#include "Rendering/OpaqueRenderedLayer.hpp"
#include "graphics/NSColor.hpp"

#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::testing;

namespace {

void waitFor(const std::shared_ptr<MTLCommandBuffer>& buffer) {
    buffer->waitUntilCompleted();
    ASSERT_EQ(buffer->status(), MTLCommandBufferStatus::completed);
}

// The stroke renderer's layer: one float texture over the canvas, filled
// with `color` over `region` (straight components).
std::shared_ptr<RasterLayer> strokeLayer(MTLSize size, const MTLRegion& region,
                                         std::array<double, 4> color) {
    MetalHelper& helper = *MetalHelper::shared();
    auto texture =
        helper.makeTexture(size, MTLTextureUsage::shaderReadWrite, MTLStorageMode::private_,
                           MTLPixelFormat::rgba32Float, "stroke");
    const auto buffer = helper.commandQueue()->commandBuffer();
    helper.fill(texture, *NSColor::clearColor(), {MTLOriginZero, size}, buffer);
    if (!isEmpty(region)) {
        helper.fill(texture, *NSColor::colorWithSRGBRed(color[0], color[1], color[2], color[3]),
                    region, buffer);
    }
    buffer->commit();
    waitFor(buffer);
    return RasterLayer::make("stroke", texture, MTLOriginZero);
}

struct LiveCase {
    const char* name;
    BlendMode strokeMode;
    bool visible;
    float opacity;
};

TEST(LiveRenderedCanvas, StrokeOverTheActiveLayer) {
    const RGBA8 white{255, 255, 255, 255}, red{255, 0, 0, 255};
    const LiveCase cases[] = {
        {"painting", BlendMode::sourceOver, true, 1},
        {"erasing", BlendMode::eraser, true, 1},
        {"hidden layer", BlendMode::sourceOver, false, 1},
        {"half opacity", BlendMode::sourceOver, true, 0.5},
        {"half opacity erasing", BlendMode::eraser, true, 0.5},
    };
    for (const auto& c : cases) {
        auto active = solidLayer("active", 8, 8, red);
        active->setVisible(c.visible);
        active->setOpacity(c.opacity);
        auto stroke = strokeLayer({8, 8, 1}, makeMTLRegion(0, 0, 4, 8), {0, 0, 1, 1});
        stroke->setBlendMode(c.strokeMode);
        auto canvas = canvasOf({8, 8, 1}, {active}, active);
        LiveRenderedCanvas rendered(canvas, stroke);
        const auto bitmap = rendered.asBitmap();
        const RGBA8 layerPixel = referenceBlend(BlendMode::sourceOver, red, c.opacity, white);
        const RGBA8 strokePixel =
            c.strokeMode == BlendMode::eraser
                ? white
                : referenceBlend(BlendMode::sourceOver, RGBA8{0, 0, 255, 255}, c.opacity, white);
        // Bitmap column 1 is under the stroke, column 6 is not.
        EXPECT_THAT(pixelAt(*bitmap, 1, 2), NearPixel(c.visible ? strokePixel : white)) << c.name;
        EXPECT_THAT(pixelAt(*bitmap, 6, 2), NearPixel(c.visible ? layerPixel : white)) << c.name;
    }
}

TEST(LiveRenderedCanvas, EmptyStrokeGivesThePlainPicture) {
    auto active = solidLayer("active", 6, 6, {10, 200, 30, 180});
    active->setOpacity(0.75f);
    auto stroke = strokeLayer({8, 8, 1}, MTLRegion{}, {0, 0, 0, 0});
    auto canvas =
        canvasOf({8, 8, 1}, {solidLayer("below", 8, 8, {90, 80, 70, 255}), active}, active);
    LiveRenderedCanvas live(canvas, stroke);
    RenderedCanvas plain(canvas);
    const auto a = live.asBitmap(), b = plain.asBitmap();
    for (int64_t y = 0; y < 8; ++y) {
        for (int64_t x = 0; x < 8; ++x) {
            EXPECT_EQ(pixelAt(*a, x, y), pixelAt(*b, x, y)) << x << ", " << y;
        }
    }
}

std::vector<float> readFloats(const std::shared_ptr<MTLTexture>& texture) {
    const auto contents = texture->contents();
    std::vector<float> out;
    for (int64_t y = 0; y < texture->height(); ++y) {
        const auto* row = reinterpret_cast<const float*>(contents.row(y));
        out.insert(out.end(), row, row + 4 * texture->width());
    }
    return out;
}

std::array<float, 4> floatPixel(const std::vector<float>& all, int64_t width, int64_t x,
                                int64_t y) {
    const float* p = &all[size_t(4 * (y * width + x))];
    return {p[0], p[1], p[2], p[3]};
}

void drain() {
    const auto buffer = MetalHelper::shared()->commandQueue()->commandBuffer();
    buffer->commit();
    waitFor(buffer);
}

TEST(OpaqueRenderedLayer, RendersTheLayerWithoutItsAlpha) {
    auto pool = std::make_shared<TexturePool>();
    auto layer = solidLayer("a", 2, 2, {255, 0, 0, 255});
    layer->setOpacity(0.25f);
    layer->setVisible(false);
    OpaqueRenderedLayer rendered({4, 4, 1}, pool, layer);
    drain();
    EXPECT_EQ(rendered.texture()->label(), "Rendered Layer");
    EXPECT_EQ(rendered.texture()->pixelFormat(), MTLPixelFormat::rgba32Float);
    const auto pixels = readFloats(rendered.texture());
    EXPECT_EQ(floatPixel(pixels, 4, 1, 1), (std::array<float, 4>{1, 0, 0, 1}));
    EXPECT_EQ(floatPixel(pixels, 2, 2, 2), (std::array<float, 4>{0, 0, 0, 0}));
}

TEST(OpaqueRenderedLayer, SharesThePooledTextureOnlyWhenFree) {
    auto pool = std::make_shared<TexturePool>();
    auto first = std::make_unique<OpaqueRenderedLayer>(MTLSize{4, 4, 1}, pool,
                                                       solidLayer("first", 4, 4, {0, 255, 0, 255}));
    drain();
    const auto firstTexture = first->texture().get();
    first.reset();
    // An empty layer: the shared texture is cleared and nothing else drawn.
    OpaqueRenderedLayer second({4, 4, 1}, pool, raster("empty"));
    drain();
    EXPECT_EQ(second.texture().get(), firstTexture);
    EXPECT_EQ(floatPixel(readFloats(second.texture()), 4, 3, 3),
              (std::array<float, 4>{0, 0, 0, 0}));
    // While `second` still holds it, a new rendered layer leaves it alone.
    OpaqueRenderedLayer third({4, 4, 1}, pool, solidLayer("third", 4, 4, {0, 0, 255, 255}));
    drain();
    EXPECT_NE(third.texture(), second.texture());
    EXPECT_EQ(floatPixel(readFloats(second.texture()), 4, 3, 3),
              (std::array<float, 4>{0, 0, 0, 0}));
    EXPECT_EQ(floatPixel(readFloats(third.texture()), 4, 3, 3), (std::array<float, 4>{0, 0, 1, 1}));
}

TEST(OpaqueRenderedLayer, UpdateRegionClearsWhatTheLayerDoesNotCover) {
    auto pool = std::make_shared<TexturePool>();
    auto layer = solidLayer("a", 4, 4, {255, 255, 0, 255});
    OpaqueRenderedLayer rendered({8, 8, 1}, pool, layer);
    drain();
    // Stale pixels outside the layer's content must not survive a re-render.
    const auto dirty = MetalHelper::shared()->commandQueue()->commandBuffer();
    MetalHelper::shared()->fill(rendered.texture(), *NSColor::whiteColor(),
                                makeMTLRegion(0, 0, 8, 8), dirty);
    dirty->commit();
    waitFor(rendered.updateRegion(makeMTLRegion(2, 2, 4, 4)));
    const auto pixels = readFloats(rendered.texture());
    EXPECT_EQ(floatPixel(pixels, 8, 3, 3), (std::array<float, 4>{1, 1, 0, 1}));
    EXPECT_EQ(floatPixel(pixels, 8, 5, 5), (std::array<float, 4>{0, 0, 0, 0}));
    EXPECT_GT(floatPixel(pixels, 8, 7, 7)[3], 0.99f);
    // Outside the texture: an empty buffer, still committed.
    const auto outside = rendered.updateRegion(makeMTLRegion(20, 20, 4, 4));
    EXPECT_GE(outside->status(), MTLCommandBufferStatus::committed);
    EXPECT_TRUE(outside->debugTrace().empty());
    waitFor(outside);
}

} // namespace
