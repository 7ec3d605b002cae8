#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "MetalExtensions/MTLTextureExtensions.hpp"
#include "Rendering/BlendKernel.hpp"
#include "Rendering/MetalHelper.hpp"
#include "Rendering/StrokeRenderer.hpp"
#include "foundation/MainQueue.hpp"
#include "foundation/UserDefaults.hpp"
#include "graphics/ColorManagement.hpp"

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

using namespace velmora;
using namespace std::chrono_literals;

namespace {

constexpr int64_t kWidth = 300, kHeight = 200;

class Delegate : public StrokeRendererDelegate {
public:
    MTLRegion pasted{};
    std::shared_ptr<NSBitmapImageRep> after, before;
    std::vector<MTLRegion> parts;
    std::shared_ptr<RasterLayer>
    strokeRendererPasteToActiveLayer(StrokeRenderer&, const std::shared_ptr<MTLTexture>&,
                                     const MTLRegion& region, const std::vector<MTLRegion>&,
                                     const std::shared_ptr<MTLCommandBuffer>&) override {
        pasted = region;
        return nullptr;
    }
    void strokeRendererDidCommit(StrokeRenderer&, const std::shared_ptr<NSBitmapImageRep>& a,
                                 const std::shared_ptr<NSBitmapImageRep>& b, const MTLOrigin&,
                                 const std::vector<MTLRegion>& p,
                                 const std::shared_ptr<RasterLayer>&) override {
        after = a;
        before = b;
        parts = p;
    }
    void strokeRendererDidDrawIn(StrokeRenderer&, const MTLRegion&) override {}
    void strokeRendererDidBeginDrawing(StrokeRenderer&) override {}
    void strokeRendererDidEndDrawing(StrokeRenderer&) override {}
};

std::shared_ptr<MTLTexture> texture(MTLPixelFormat format, const MTLSize& size,
                                    const std::vector<uint8_t>* bytes = nullptr) {
    auto t = MetalHelper::shared()->makeTexture(size, MTLTextureUsage::shaderReadWrite,
                                                MTLStorageMode::managed, format, std::nullopt);
    if (bytes != nullptr) {
        std::memcpy(t->contents().data, bytes->data(), bytes->size());
    }
    return t;
}

std::vector<uint8_t> bytesOf(const std::shared_ptr<MTLTexture>& t) {
    const auto c = t->contentsForReading();
    return {c.data, c.data + c.bytesPerRow * c.height};
}

// Packed parts back at their place in a picture of `size`, 4 bytes a pixel;
// `covered` marks the pixels the parts hold, each once.
std::vector<uint8_t> unpack(const NSBitmapImageRep& packed, const std::vector<MTLRegion>& parts,
                            const MTLSize& size, std::vector<int>* covered = nullptr) {
    std::vector<uint8_t> whole(size_t(size.width * size.height * 4), 0);
    if (covered != nullptr) {
        covered->assign(size_t(size.width * size.height), 0);
    }
    int64_t row = 0;
    for (const MTLRegion& part : parts) {
        EXPECT_TRUE(contains(MTLRegion{MTLOriginZero, size}, part)) << description(part);
        for (int64_t y = 0; y < part.size.height; ++y, ++row) {
            const int64_t at = (part.origin.y + y) * size.width + part.origin.x;
            std::memcpy(whole.data() + at * 4, packed.row(row), size_t(part.size.width * 4));
            for (int64_t x = 0; covered != nullptr && x < part.size.width; ++x) {
                (*covered)[size_t(at + x)] += 1;
            }
        }
    }
    EXPECT_EQ(row, packed.pixelsHigh());
    return whole;
}

// A layer copy as 8-bit layers give it, colour 0 under alpha 0.
std::vector<uint8_t> layerCopy(std::mt19937& random) {
    std::vector<float> pixels(size_t(kWidth * kHeight * 4));
    for (size_t i = 0; i < pixels.size(); i += 4) {
        const float a = random() % 4 == 0 ? 0.0f : float(random() % 256) / 255.0f;
        for (int c = 0; c < 3; ++c) {
            pixels[i + size_t(c)] = a > 0 ? float(random() % 256) / 255.0f : 0;
        }
        pixels[i + 3] = a;
    }
    std::vector<uint8_t> bytes(pixels.size() * 4);
    std::memcpy(bytes.data(), pixels.data(), bytes.size());
    return bytes;
}

// The finish over the stroke's whole box through the image graph: snapshots by
// pixel-format conversion, the stroke premultiplied and blended over the
// premultiplied layer copy, rendered back straight.
struct WholeBox {
    std::vector<uint8_t> destination, before, after;
};
WholeBox finishWholeBox(const std::vector<uint8_t>& layer, const std::vector<uint8_t>& stroke,
                        const MTLRegion& region, BlendMode mode) {
    const MTLSize size{kWidth, kHeight, 1};
    const auto destination = texture(MTLPixelFormat::rgba32Float, size, &layer);
    const auto background = texture(MTLPixelFormat::rgba32Float, size, &layer);
    const auto foreground = texture(MTLPixelFormat::rgba32Float, size, &stroke);
    const auto before = texture(MTLPixelFormat::rgba8Unorm, region.size);
    const auto after = texture(MTLPixelFormat::rgba8Unorm, region.size);
    MetalHelper::shared()->execute([&](MetalHelper& helper, const auto& commandBuffer) {
        helper.convert(destination, region, before, commandBuffer);
        const CIImageOptions options{ColorManagement::workingColorSpace()};
        const auto blended = blendKernel(mode)->apply(
            CIImage::withTexture(foreground, options)->premultiplyingAlpha(),
            CIImage::withTexture(background, options)->premultiplyingAlpha());
        helper.render(*blended, destination, region.origin, region, commandBuffer);
        helper.convert(destination, region, after, commandBuffer);
    });
    return {bytesOf(destination), bytesOf(before), bytesOf(after)};
}

struct Case {
    const char* name;
    bool erasing;
    float radius;
    float spread; // how far the dots wander, partly off the canvas
    int dots;
};

// Marking skips dots inside the tiles marked last; a clear forgets them, so the
// same dots of the next stroke mark their tiles again.
TEST(StrokeTiles, MarksSurviveRepeatsAndComeBackAfterAClear) {
    StrokeTiles tiles({300, 200, 1});
    const auto marked = [&] {
        std::vector<std::pair<int64_t, int64_t>> all;
        for (int64_t row = 0; row < 4; ++row) {
            for (int64_t column = 0; column < 5; ++column) {
                if (tiles.isMarked(column, row)) {
                    all.emplace_back(column, row);
                }
            }
        }
        return all;
    };
    using Tiles = std::vector<std::pair<int64_t, int64_t>>;
    for (int stroke = 0; stroke < 2; ++stroke) {
        tiles.mark(MTLRegionMake2D(60, 10, 10, 10));   // tiles (0, 0) and (1, 0)
        tiles.mark(MTLRegionMake2D(65, 12, 3, 3));     // inside the last: nothing new
        tiles.mark(MTLRegionMake2D(-40, 190, 50, 50)); // clipped: tiles (0, 2) and (0, 3)
        tiles.mark(MTLRegionMake2D(290, 70, 30, 1));   // tile (4, 1)
        tiles.mark(MTLRegionMake2D(400, 70, 5, 5));    // outside the canvas
        EXPECT_EQ(marked(), (Tiles{{0, 0}, {1, 0}, {4, 1}, {0, 2}, {0, 3}}));
        tiles.clear();
        EXPECT_EQ(marked(), Tiles{});
    }
    // The next stroke's first dot in the tiles the last one marked last.
    tiles.mark(MTLRegionMake2D(290, 70, 30, 1));
    tiles.clear();
    tiles.mark(MTLRegionMake2D(300, 80, 5, 5));
    EXPECT_EQ(marked(), (Tiles{{4, 1}}));
}

// Finishing only the tiles that hold the stroke gives the layer copy and both
// snapshots the same bits as finishing the stroke's whole box did wherever the
// stroke has pixels, leaves the rest as it was, and leaves the stroke texture clear.
TEST(StrokeTiles, FinishingTheStrokesTilesMatchesFinishingItsWholeBox) {
    UserDefaults defaults(std::nullopt);
    DrawingSettings settings(defaults);
    for (const Case& c : std::vector<Case>{{"a few small dots", false, 3, 80, 6},
                                           {"a long painted stroke", false, 12, 400, 120},
                                           {"an erasing stroke", true, 20, 300, 40},
                                           {"large dots over the edges", false, 90, 600, 9}}) {
        SCOPED_TRACE(c.name);
        std::mt19937 random(uint32_t(c.dots));
        std::uniform_real_distribution<float> unit(0, 1);
        const auto queue = StrokesViewModel::make(settings);
        const auto renderer =
            StrokeRenderer::make({MetalHelper::shared()->device(), MTLPixelFormat::bgra8Unorm},
                                 queue, {kWidth, kHeight, 1});
        const auto delegate = std::make_shared<Delegate>();
        renderer->setDelegate(delegate);
        const auto layer = layerCopy(random);
        const auto destination = texture(MTLPixelFormat::rgba32Float, {kWidth, kHeight, 1}, &layer);

        std::vector<StrokesViewModel::Dot> dots;
        CGPoint at{unit(random) * kWidth, unit(random) * kHeight};
        for (int i = 0; i < c.dots; ++i) {
            at = {at.x + (unit(random) - 0.5) * c.spread / 4, at.y + (unit(random) - 0.5) * 20};
            const auto color =
                c.erasing ? nullptr
                          : NSColor::colorWithSRGBRed(unit(random), unit(random), unit(random), 1);
            dots.push_back({at, color, c.radius * (0.5 + unit(random)), unit(random),
                            0.2 + 0.8 * unit(random)});
        }
        queue->appendDots(dots);
        const auto frame = [&] {
            const auto commandBuffer = MetalHelper::shared()->commandQueue()->commandBuffer();
            renderer->render(destination, commandBuffer);
            commandBuffer->commit();
            commandBuffer->waitUntilCompleted();
        };
        frame();
        const auto stroke = bytesOf(renderer->strokeTexture());
        // Compositing reads the stroke only inside the bounds it is told: every
        // painted texel must lie there.
        const auto painted = renderer->strokeTexture()->nonZeroBounds();
        ASSERT_TRUE(painted.has_value());
        for (size_t at = 0; at < stroke.size(); ++at) {
            const int64_t x = int64_t(at / 16) % kWidth, y = int64_t(at / 16) / kWidth;
            ASSERT_TRUE(stroke[at] == 0 || contains(*painted, makeMTLRegion(x, y, 1, 1)))
                << x << ", " << y;
        }
        bool closed = false;
        queue->closeStroke([&] { closed = true; });
        ASSERT_TRUE(MainQueue::runUntil([&] { return closed; }, 10s));
        if (c.erasing) {
            queue->front()->erasing = true;
        }
        frame();
        MainQueue::runUntilIdle();
        ASSERT_NE(delegate->after, nullptr);

        const auto expected = finishWholeBox(layer, stroke, delegate->pasted,
                                             c.erasing ? BlendMode::eraser : BlendMode::normal);
        // Where the stroke has pixels, the same bits; elsewhere the whole box sent the
        // pixel through premultiplying and back, which the tiles may leave out.
        // The snapshots hold the stroke's tiles only, packed: each pixel once, with
        // the whole box's bits before it; every pixel the stroke drew in is there.
        const auto got = bytesOf(destination);
        const MTLRegion& r = delegate->pasted;
        std::vector<int> covered;
        // Packed tile by tile: a narrow picture, nothing of it left unused.
        EXPECT_LE(delegate->before->pixelsWide(), StrokeTiles::tileSide);
        for (const MTLRegion& part : delegate->parts) {
            EXPECT_EQ((r.origin.x + part.origin.x) / StrokeTiles::tileSide,
                      (r.origin.x + part.origin.x + part.size.width - 1) / StrokeTiles::tileSide);
        }
        const auto before = unpack(*delegate->before, delegate->parts, r.size, &covered);
        const auto after = unpack(*delegate->after, delegate->parts, r.size);
        int stroked = 0;
        for (int64_t y = 0; y < kHeight; ++y) {
            for (int64_t x = 0; x < kWidth; ++x) {
                const size_t at = size_t(y * kWidth + x) * 16;
                const auto same = [&](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                                      size_t i, size_t n) {
                    return std::memcmp(a.data() + i, b.data() + i, n) == 0;
                };
                const bool inBox = x >= r.origin.x && y >= r.origin.y &&
                                   x < r.origin.x + r.size.width && y < r.origin.y + r.size.height;
                const size_t snap =
                    inBox ? size_t((y - r.origin.y) * r.size.width + (x - r.origin.x)) * 4 : 0;
                const bool hasStroke =
                    std::any_of(stroke.begin() + long(at), stroke.begin() + long(at + 16),
                                [](uint8_t b) { return b != 0; });
                const int parts = inBox ? covered[snap / 4] : 0;
                ASSERT_LE(parts, 1) << x << ", " << y;
                ASSERT_TRUE(parts == 0 || same(before, expected.before, snap, 4)) << x << ", " << y;
                if (hasStroke) {
                    ++stroked;
                    ASSERT_EQ(parts, 1) << x << ", " << y;
                    ASSERT_TRUE(same(got, expected.destination, at, 16)) << x << ", " << y;
                    ASSERT_TRUE(same(after, expected.after, snap, 4)) << x << ", " << y;
                } else {
                    ASSERT_TRUE(same(got, expected.destination, at, 16) || same(got, layer, at, 16))
                        << x << ", " << y;
                    ASSERT_TRUE(parts == 0 || same(after, expected.after, snap, 4) ||
                                same(after, before, snap, 4))
                        << x << ", " << y;
                }
            }
        }
        EXPECT_GT(stroked, 0);
        const auto cleared = bytesOf(renderer->strokeTexture());
        EXPECT_TRUE(std::all_of(cleared.begin(), cleared.end(), [](uint8_t b) { return b == 0; }));
        EXPECT_TRUE(isEmpty(renderer->strokeTexture()->nonZeroBounds().value_or(r)));
    }
}

} // namespace
