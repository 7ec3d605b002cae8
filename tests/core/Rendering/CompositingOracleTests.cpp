#include "Canvas/FilledLayer.hpp"
#include "CompositingTestSupport.hpp"
#include "Extensions/CIImageExtensions.hpp"
#include "MetalExtensions/MTLCommandBufferExtensions.hpp"
#include "Rendering/BlendKernel.hpp"
#include "Rendering/LiveRenderedCanvas.hpp"
#include "graphics/NSColor.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <random>

using namespace velmora;
using namespace velmora::testing;

namespace {

// The compositing done the slow way, one render into a texture per layer and
// group and each result read back as the next background, so that the fused
// compositor can be held to the same bits.
class StepwiseCompositor {
public:
    explicit StepwiseCompositor(MTLSize size) : size_(size) {}

    // `picture` gives a layer's picture; by default its image with its alpha.
    std::shared_ptr<MTLTexture>
    composite(const LayeredCanvas& canvas,
              const std::function<CIImage(const Layer&, const MTLRegion&)>& picture = {}) {
        MetalHelper& helper = *MetalHelper::shared();
        const MTLRegion region{MTLOriginZero, size_};
        auto output = makeTexture("output");
        const auto tree = canvas.layerTree()->compactMap(
            {},
            [&](const std::shared_ptr<Layer>& layer, const std::vector<std::shared_ptr<Layer>>&)
                -> std::optional<RenderedCanvas::LayerNode> {
                CIImage image =
                    picture ? picture(*layer, region) : layer->applyingAlpha(layer->image(region));
                if (dynamic_cast<RasterLayer*>(layer.get()) && image.isEmpty()) {
                    return std::nullopt;
                }
                return RenderedCanvas::LayerNode{image, layer};
            });
        const auto pruned = RenderedCanvas::prune(tree, nullptr);
        const auto buffer = helper.commandQueue()->commandBuffer();
        auto root = makeTexture("depth 0");
        renderNode(*pruned, root, buffer, CIImage::empty(), 1);
        blit(*buffer, std::nullopt, [&](MTLBlitCommandEncoder& encoder) {
            helper.encodePaste(root, region, output, MTLOriginZero, encoder);
        });
        buffer->commit();
        buffer->waitUntilCompleted();
        return output;
    }

private:
    std::shared_ptr<MTLTexture> makeTexture(const std::string& label) {
        return MetalHelper::shared()->makeTexture(size_, MTLTextureUsage::shaderReadWrite,
                                                  MTLStorageMode::private_,
                                                  MTLPixelFormat::rgba8Unorm, label);
    }

    std::shared_ptr<MTLTexture> intermediate(size_t depth) {
        while (intermediates_.size() <= depth) {
            intermediates_.push_back(makeTexture("depth " + std::to_string(depth)));
        }
        return intermediates_[depth];
    }

    CIImage renderNode(const RenderedCanvas::LayerNodeTree& node,
                       const std::shared_ptr<MTLTexture>& destination,
                       const std::shared_ptr<MTLCommandBuffer>& buffer, const CIImage& background,
                       size_t depth) {
        MetalHelper& helper = *MetalHelper::shared();
        const MTLRegion region{MTLOriginZero, size_};
        const Layer& layer = *node.value.layer;
        const auto& kernel = blendKernel(layer.blendMode());
        std::optional<CIImage> blended;
        if (node.children.empty()) {
            blended = kernel->apply(node.value.image, background);
        } else {
            const auto inter = intermediate(depth);
            helper.fill(inter, *NSColor::clearColor(), region, buffer);
            CIImage acc = canvasFillImage(CIColor::clear());
            for (const auto& child : node.children) {
                acc = renderNode(*child, inter, buffer, acc, depth + 1);
            }
            blended = kernel->apply(layer.applyingAlpha(acc), background);
        }
        helper.render(*blended, destination, MTLOriginZero, region, buffer);
        CIImageOptions options;
        options.colorSpace = ColorManagement::workingColorSpace();
        return CIImage::withTexture(destination, options)->premultiplyingAlpha();
    }

    MTLSize size_;
    std::vector<std::shared_ptr<MTLTexture>> intermediates_;
};

// Odd layers cover the whole 32 x 24 canvas (or one `wholeWidth` wide), the
// others a random part of it.
std::shared_ptr<RasterLayer> noiseLayer(std::mt19937& random, const std::string& name,
                                        BlendMode mode, float opacity, bool whole,
                                        int64_t wholeWidth = 32) {
    std::uniform_int_distribution<int> byte(0, 255), side(4, 24), place(-6, 20);
    const int64_t w = whole ? wholeWidth : side(random), h = whole ? 24 : side(random);
    auto bitmap = NSBitmapImageRep::makeRGBA8(w, h, ColorManagement::workingNSColorSpace());
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            uint8_t* p = bitmap->row(y) + 4 * x;
            for (int c = 0; c < 4; ++c) {
                p[c] = uint8_t(byte(random));
            }
            // Some fully transparent and some opaque pixels among the rest.
            if (x % 5 == 0) {
                p[3] = y % 2 == 0 ? 0 : 255;
            }
        }
    }
    auto layer = RasterLayer::make(name, *bitmap);
    if (!whole) {
        layer->moveContents(MTLVector(place(random), place(random), 0));
    }
    layer->setBlendMode(mode);
    layer->setOpacity(opacity);
    return layer;
}

std::vector<uint8_t> bytesOf(const std::shared_ptr<MTLTexture>& texture) {
    const auto contents = texture->contents();
    std::vector<uint8_t> out;
    for (int64_t y = 0; y < texture->height(); ++y) {
        out.insert(out.end(), contents.row(y), contents.row(y) + 4 * texture->width());
    }
    return out;
}

TEST(CompositingOracle, FusedTilesGiveTheBitsOfSeparateRenders) {
    const BlendMode modes[] = {BlendMode::sourceOver, BlendMode::multiply,    BlendMode::overlay,
                               BlendMode::linearBurn, BlendMode::linearDodge, BlendMode::eraser};
    const float opacities[] = {1, 1, 0.5f, 0.3f};
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
        std::mt19937 random(seed);
        int n = 0;
        const auto next = [&] {
            ++n;
            return noiseLayer(random, "l" + std::to_string(n), modes[(n + seed) % 6],
                              opacities[n % 4], n % 2 == 1);
        };
        auto hidden = next();
        hidden->setVisible(false);
        auto inner = group("inner", {next(), next(), next()});
        inner->setBlendMode(modes[seed % 6]);
        auto outer = group("outer", {next(), inner, next()});
        outer->setOpacity(seed % 2 == 0 ? 0.6f : 1.0f);
        outer->setBlendMode(modes[(seed + 3) % 6]);
        auto hiddenGroup = group("hidden group", {next()});
        hiddenGroup->setVisible(false);
        const MTLSize size{32, 24, 1};
        auto canvas = canvasOf(size, {next(), hidden, outer, next(), hiddenGroup, next()});

        RenderedCanvas rendered(canvas);
        rendered.asBitmap();
        StepwiseCompositor stepwise(size);
        EXPECT_EQ(bytesOf(rendered.texture()), bytesOf(stepwise.composite(*canvas)))
            << "seed " << seed;
    }
}

// Filled layers of colours some straight 8-bit pixel loads as exactly (blended
// as rows of that pixel) and of colours none does, in every mode and opacity.
TEST(CompositingOracle, FilledLayersGiveTheBitsOfSeparateRenders) {
    const CIColor colours[] = {CIColor::white(),
                               CIColor::clear(),
                               {0.5, 0.5, 0.5, 1},
                               {1, 0, 0, 128.0 / 255.0},
                               {0.2, 0.4, 0.6, 0.7}};
    const BlendMode modes[] = {BlendMode::sourceOver, BlendMode::multiply,    BlendMode::overlay,
                               BlendMode::linearBurn, BlendMode::linearDodge, BlendMode::eraser};
    std::mt19937 random(5);
    for (size_t i = 0; i < std::size(colours); ++i) {
        auto fill = FilledLayer::make("fill", colours[i]);
        fill->setBlendMode(modes[i % std::size(modes)]);
        fill->setOpacity(i == 4 ? 0.4f : 1.0f);
        const MTLSize size{32, 24, 1};
        auto canvas = canvasOf(size, {noiseLayer(random, "below", BlendMode::sourceOver, 1, false),
                                      fill, noiseLayer(random, "above", modes[i], 1, true)});
        RenderedCanvas rendered(canvas);
        rendered.asBitmap();
        StepwiseCompositor stepwise(size);
        EXPECT_EQ(bytesOf(rendered.texture()), bytesOf(stepwise.composite(*canvas))) << i;
    }
}

// The live stroke over the active layer, painting and erasing, empty in some
// rows and not in others, the layer opaque or not, on a canvas one block wide
// and one wide enough for blocks of fewer rows: blocks under an empty stroke
// read the layer directly, its opacity applied as it is read.
TEST(CompositingOracle, LiveStrokeGivesTheBitsOfSeparateRenders) {
    struct Case {
        BlendMode strokeMode;
        float opacity;
        int64_t width;
    };
    for (const Case& c :
         {Case{BlendMode::sourceOver, 1, 32}, Case{BlendMode::eraser, 1, 32},
          Case{BlendMode::sourceOver, 0.45f, 32}, Case{BlendMode::eraser, 1, 256},
          Case{BlendMode::sourceOver, 0.45f, 256}, Case{BlendMode::eraser, 0.7f, 256}}) {
        const BlendMode strokeMode = c.strokeMode;
        std::mt19937 random(9);
        auto below = noiseLayer(random, "below", BlendMode::sourceOver, 1, true, c.width);
        auto active = noiseLayer(random, "active", BlendMode::multiply, 1, true, c.width);
        active->setOpacity(c.opacity);
        auto above = noiseLayer(random, "above", BlendMode::linearDodge, 1, false);
        const MTLSize size{c.width, 24, 1};
        auto canvas = canvasOf(size, {below, active, above}, active);
        auto strokeTexture = MetalHelper::shared()->makeTexture(
            size, MTLTextureUsage::shaderReadWrite, MTLStorageMode::private_,
            MTLPixelFormat::rgba32Float, "stroke");
        const auto contents = strokeTexture->contents();
        for (int64_t y = 7; y < 12; ++y) {
            auto* row = reinterpret_cast<float*>(contents.row(y));
            for (int64_t x = 3; x < 20; ++x) {
                const float a = float(x % 4) / 3.0f;
                row[4 * x] = 0.25f * a;
                row[4 * x + 1] = 0.5f * a;
                row[4 * x + 2] = 0.75f * a;
                row[4 * x + 3] = a;
            }
        }
        auto stroke = RasterLayer::make("stroke", strokeTexture, MTLOriginZero);
        stroke->setBlendMode(strokeMode);

        LiveRenderedCanvas rendered(canvas, stroke);
        rendered.asBitmap();
        StepwiseCompositor stepwise(size);
        const auto expected =
            stepwise.composite(*canvas, [&](const Layer& layer, const MTLRegion& region) {
                if (&layer != active.get()) {
                    return layer.applyingAlpha(layer.image(region));
                }
                return layer.applyingAlpha(
                    *blendKernel(strokeMode)->apply(stroke->image(region), layer.image(region)));
            });
        EXPECT_EQ(bytesOf(rendered.texture()), bytesOf(expected))
            << int(strokeMode) << " opacity " << c.opacity << " width " << c.width;
    }
}

// The clear tiles of the stroke texture are remembered between composites: a
// stroke painted, moved or cleared since, whichever way the texture was
// written, is seen by the next one, across several canvas tiles.
TEST(CompositingOracle, StrokeChangedBetweenCompositesIsSeen) {
    std::mt19937 random(11);
    const MTLSize size{2100, 70, 1};
    MetalHelper& helper = *MetalHelper::shared();
    auto active =
        RasterLayer::make("active", *solidBitmap(size.width, size.height, {40, 90, 200, 160}));
    auto canvas =
        canvasOf(size, {noiseLayer(random, "below", BlendMode::overlay, 1, true), active}, active);
    auto strokeTexture =
        helper.makeTexture(size, MTLTextureUsage::shaderReadWrite, MTLStorageMode::private_,
                           MTLPixelFormat::rgba32Float, "stroke");
    auto stroke = RasterLayer::make("stroke", strokeTexture, MTLOriginZero);
    const auto paint = [&](const MTLRegion& region, float alpha, bool noteRegion) {
        const auto contents =
            noteRegion ? strokeTexture->contents(region) : strokeTexture->contents();
        for (int64_t y = region.origin.y; y < region.origin.y + region.size.height; ++y) {
            auto* row = reinterpret_cast<float*>(contents.row(y));
            for (int64_t x = region.origin.x; x < region.origin.x + region.size.width; ++x) {
                const float a = alpha * float(x % 5) / 4.0f;
                const float c[4] = {0.3f * a, 0.6f * a, 0.1f * a, a};
                std::copy(c, c + 4, row + 4 * x);
            }
        }
    };
    LiveRenderedCanvas rendered(canvas, stroke);
    StepwiseCompositor stepwise(size);
    const auto check = [&](const char* what) {
        rendered.needsUpdate({MTLOriginZero, size});
        rendered.asBitmap();
        const auto expected = stepwise.composite(*canvas, [&](const Layer& layer,
                                                              const MTLRegion& region) {
            if (&layer != active.get()) {
                return layer.applyingAlpha(layer.image(region));
            }
            return layer.applyingAlpha(*blendKernel(BlendMode::sourceOver)
                                            ->apply(stroke->image(region), layer.image(region)));
        });
        EXPECT_EQ(bytesOf(rendered.texture()), bytesOf(expected)) << what;
    };
    check("clear");
    paint(makeMTLRegion(2040, 3, 30, 5), 1, true);
    check("painted across two canvas tiles");
    paint(makeMTLRegion(100, 66, 7, 4), 0.5f, false);
    check("painted without a region");
    const auto buffer = helper.commandQueue()->commandBuffer();
    helper.fill(strokeTexture, *NSColor::clearColor(), makeMTLRegion(2040, 0, 60, 10), buffer);
    buffer->commit();
    buffer->waitUntilCompleted();
    check("partly cleared");
}

} // namespace
