#include "CompositingTestSupport.hpp"
#include "Rendering/CanvasMipChain.hpp"
#include "Rendering/ReducedCanvas.hpp"

#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::testing;

namespace {

// Texture rows as stored, bottom first, once the work committed so far has run.
std::vector<uint8_t> texels(const std::shared_ptr<MTLTexture>& texture,
                            std::optional<MTLRegion> only = std::nullopt) {
    const auto barrier = MetalHelper::shared()->commandQueue()->commandBuffer();
    barrier->commit();
    barrier->waitUntilCompleted();
    const MTLRegion r = only.value_or(MTLRegion{MTLOriginZero, size(*texture)});
    const auto c = texture->contentsForReading();
    std::vector<uint8_t> out;
    for (int64_t y = r.origin.y; y < r.origin.y + r.size.height; ++y) {
        const uint8_t* row = c.row(y) + 4 * r.origin.x;
        out.insert(out.end(), row, row + 4 * r.size.width);
    }
    return out;
}

// Differs left from right and top from bottom, half transparent in places.
std::shared_ptr<RasterLayer> asymmetric(std::string name, int64_t w, int64_t h, int seed,
                                        BlendMode mode = BlendMode::sourceOver) {
    auto bitmap = NSBitmapImageRep::makeRGBA8(w, h, ColorManagement::workingNSColorSpace());
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            uint8_t* p = bitmap->row(y) + 4 * x;
            p[0] = uint8_t(3 * x + y + seed), p[1] = uint8_t(200 - 2 * y + seed);
            p[2] = uint8_t((x * y + seed) % 251);
            p[3] = x < w / 3 ? 128 : uint8_t(40 + (5 * y + seed) % 216);
        }
    }
    auto layer = RasterLayer::make(std::move(name), *bitmap);
    layer->setBlendMode(mode);
    return layer;
}

constexpr MTLSize canvasSize{96, 80, 1};

// Under a half-transparent base: a layer in the mode, partly moved off the
// canvas, and a group at 60 % holding a layer in the mode.
std::shared_ptr<LayeredCanvas> scene(BlendMode mode) {
    auto moved = asymmetric("moved", 70, 60, 40, mode);
    moved->moveContents({50, -20, 0});
    auto inner = asymmetric("inner", 48, 64, 90, mode);
    inner->moveContents({10, 8, 0});
    auto halfOpaque = group("group", {inner});
    halfOpaque->setOpacity(0.6f);
    return canvasOf(canvasSize, {asymmetric("base", 96, 80, 7), moved, halfOpaque});
}

// Small enough thresholds for a tiny canvas to be spread over frames.
RenderedCanvas::Pacing tinyPacing(MTLRegion visible, int level) {
    RenderedCanvas::Pacing p{visible, level};
    p.area = 16 * 16;
    p.budget = 16 * 16;
    p.block = 16;
    return p;
}

std::vector<uint8_t> fullComposite(const std::shared_ptr<LayeredCanvas>& canvas) {
    RenderedCanvas fresh(canvas);
    const auto buffer = MetalHelper::shared()->commandQueue()->commandBuffer();
    fresh.compute(buffer);
    buffer->commit();
    return texels(fresh.texture());
}

// Runs one frame and returns what it shows and at which level.
std::pair<std::shared_ptr<MTLTexture>, int> frame(RenderedCanvas& rendered) {
    const auto buffer = MetalHelper::shared()->commandQueue()->commandBuffer();
    rendered.compute(buffer);
    buffer->commit();
    return rendered.shownTexture();
}

const BlendMode everyMode[] = {BlendMode::sourceOver, BlendMode::multiply,    BlendMode::overlay,
                               BlendMode::linearBurn, BlendMode::linearDodge, BlendMode::eraser};

} // namespace

// Whatever the level and the visible part, a paced composite spread over
// frames ends bit for bit where one full composite ends, in every mode.
TEST(PacedCompositing, CatchUpEqualsAFullCompositeInEveryMode) {
    for (const BlendMode mode : everyMode) {
        for (const int level : {0, 1, 2}) {
            const auto canvas = scene(mode);
            RenderedCanvas rendered(canvas);
            rendered.setPacing(tinyPacing(makeMTLRegion(20, 10, 40, 30), level));
            int frames = 0;
            do {
                const auto [shown, shownLevel] = frame(rendered);
                EXPECT_EQ(shownLevel, rendered.isCaughtUp() ? 0 : level);
                ++frames;
            } while (!rendered.isCaughtUp() && frames < 100);
            EXPECT_GT(frames, 3) << "not spread over frames";
            EXPECT_EQ(texels(rendered.texture()), fullComposite(canvas))
                << rawValue(mode) << " level " << level;
        }
    }
}

// Each step of an interaction marks what it changed; a step arriving while
// the last one catches up joins it. Every frame shows the newest state: at
// level 0 the visible part of the canvas itself, above it the reduced picture
// of that state, and the canvas only once it has caught up.
TEST(PacedCompositing, StepsDuringACatchUpRestartItAndNeverShowAnOlderState) {
    for (const int level : {0, 1}) {
        const auto canvas = scene(BlendMode::multiply);
        const auto moved = canvas->immediateLayers()[1];
        RenderedCanvas rendered(canvas);
        rendered.setPacing(std::nullopt);
        frame(rendered);
        const MTLRegion visible = makeMTLRegion(8, 16, 56, 40);
        rendered.setPacing(tinyPacing(visible, level));
        for (int step = 0; step < 6; ++step) {
            const MTLRegion before = moved->boundingRect();
            if (step % 2 == 0) {
                moved->moveContents({-3, 2, 0});
            } else {
                moved->setOpacity(1.0f - 0.1f * float(step));
            }
            rendered.needsUpdate(unionWith(before, moved->boundingRect()));
            const auto [shown, shownLevel] = frame(rendered);
            ASSERT_FALSE(rendered.isCaughtUp()) << "one frame did all of a step";
            if (level == 0) {
                EXPECT_EQ(shown, rendered.texture());
                RenderedCanvas fresh(canvas);
                frame(fresh);
                EXPECT_EQ(texels(shown, visible), texels(fresh.texture(), visible))
                    << "step " << step;
            } else {
                EXPECT_EQ(shownLevel, level);
                ReducedCanvas fresh(canvas, level);
                frame(fresh);
                const MTLRegion reduced = ReducedCanvas::reducedRegion(visible, level);
                EXPECT_EQ(texels(shown, reduced), texels(fresh.texture(), reduced))
                    << "step " << step;
            }
        }
        for (int i = 0; i < 100 && !rendered.isCaughtUp(); ++i) {
            frame(rendered);
        }
        ASSERT_TRUE(rendered.isCaughtUp());
        EXPECT_EQ(rendered.shownTexture().first, rendered.texture());
        EXPECT_EQ(texels(rendered.texture()), fullComposite(canvas));
    }
}

// A result read while the view still catches up (a save, an export) is the
// full-resolution composite, never the reduced picture or a half-done canvas.
TEST(PacedCompositing, AResultReadDuringACatchUpIsAtFullResolution) {
    const auto canvas = scene(BlendMode::overlay);
    RenderedCanvas rendered(canvas);
    rendered.setPacing(tinyPacing(makeMTLRegion(0, 0, 30, 30), 1));
    frame(rendered);
    ASSERT_FALSE(rendered.isCaughtUp());
    ASSERT_NE(rendered.shownTexture().first, rendered.texture());
    const auto saved = rendered.asBitmap();
    RenderedCanvas fresh(canvas);
    const auto expected = fresh.asBitmap();
    ASSERT_EQ(saved->pixelSize(), expected->pixelSize());
    EXPECT_TRUE(std::equal(saved->bitmapData(), saved->bitmapData() + saved->dataSize(),
                           expected->bitmapData()));
    EXPECT_TRUE(rendered.isCaughtUp());
}

// The reduced picture of one opaque layer is its halving, and follows the
// layer's pixels where they change and its moves.
TEST(PacedCompositing, ReducedLevelsFollowPixelsAndMoves) {
    auto layer = asymmetric("opaque", 64, 48, 3);
    const auto opaque = [&] {
        // Alpha 255 everywhere: no white shows through.
        auto bitmap = NSBitmapImageRep::makeRGBA8(64, 48, ColorManagement::workingNSColorSpace());
        for (int64_t y = 0; y < 48; ++y) {
            for (int64_t x = 0; x < 64; ++x) {
                uint8_t* p = bitmap->row(y) + 4 * x;
                p[0] = uint8_t(5 * x), p[1] = uint8_t(3 * y), p[2] = uint8_t(x ^ y), p[3] = 255;
            }
        }
        return bitmap;
    }();
    layer = RasterLayer::make("opaque", *opaque);
    const auto canvas = canvasOf({64, 48, 1}, {layer});
    ReducedCanvas reduced(canvas, 1);
    // The halving of the texture rows as stored.
    const auto halving = [&](const std::vector<uint8_t>& rows, int64_t w, int64_t h) {
        std::vector<uint8_t> out(size_t((w / 2) * (h / 2) * 4));
        const MTLTextureContents from{const_cast<uint8_t*>(rows.data()), w * 4, w, h,
                                      MTLPixelFormat::rgba8Unorm,        4};
        const MTLTextureContents to{
            out.data(), (w / 2) * 4, w / 2, h / 2, MTLPixelFormat::rgba8Unorm, 4};
        CanvasMipChain::halve(from, to);
        return out;
    };
    frame(reduced);
    const auto patch = layer->patches().front();
    EXPECT_EQ(texels(reduced.texture()), halving(texels(patch->texture()), 64, 48));

    // Pixels changed in one corner: the reduced picture follows there.
    layer->paste(*solidBitmap(10, 6, {9, 200, 30, 255}), {40, 30, 0});
    reduced.needsUpdate(ReducedCanvas::reducedRegion(makeMTLRegion(40, 30, 10, 6), 1));
    frame(reduced);
    EXPECT_EQ(texels(reduced.texture()), halving(texels(patch->texture()), 64, 48));

    // Moved by two pixels: the same halving, one reduced pixel further.
    layer->moveContents({2, 0, 0});
    reduced.needsUpdate(makeMTLRegion(0, 0, 32, 24));
    frame(reduced);
    const auto shifted = texels(reduced.texture());
    const auto half = halving(texels(patch->texture()), 64, 48);
    for (int64_t y = 0; y < 24; ++y) {
        EXPECT_TRUE(std::equal(shifted.begin() + (y * 32 + 1) * 4,
                               shifted.begin() + (y * 32 + 32) * 4, half.begin() + y * 32 * 4))
            << "row " << y;
    }
}
