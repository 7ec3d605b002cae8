#include "CompositingTestSupport.hpp"
#include "Rendering/CanvasMipChain.hpp"
#include "Rendering/ReducedCanvas.hpp"
#include "Rendering/SplitComposite.hpp"

#include <algorithm>
#include <cstdlib>
#include <functional>
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

namespace {

// The largest difference of one channel between two runs of texels.
int maxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    EXPECT_EQ(a.size(), b.size());
    int most = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        most = std::max(most, std::abs(int(a[i]) - int(b[i])));
    }
    return most;
}

// A base, a layer in the mode, a group at 60 % whose changed layer has a
// layer in the mode below it and a source-over layer above it, and two
// source-over layers above the group.
struct GroupScene {
    std::shared_ptr<LayeredCanvas> canvas;
    std::shared_ptr<Layer> top, inner, innerBelow, grouped;
};

GroupScene groupScene(BlendMode mode) {
    GroupScene s;
    auto innerBelow = asymmetric("inner below", 60, 50, 21, mode);
    innerBelow->moveContents({20, 12, 0});
    auto inner = asymmetric("inner", 48, 64, 90, mode);
    inner->moveContents({10, 8, 0});
    auto innerAbove = asymmetric("inner above", 40, 30, 55);
    innerAbove->moveContents({30, 30, 0});
    auto grouped = group("group", {innerBelow, inner, innerAbove});
    grouped->setOpacity(0.6f);
    auto top = asymmetric("top", 50, 40, 13);
    top->moveContents({5, 25, 0});
    auto cover = asymmetric("cover", 80, 70, 77);
    cover->setOpacity(0.7f);
    s.canvas = canvasOf(canvasSize, {asymmetric("base", 96, 80, 7),
                                     asymmetric("mode", 70, 60, 40, mode), grouped, top, cover});
    s.top = top, s.inner = inner, s.innerBelow = innerBelow, s.grouped = grouped;
    return s;
}

// What a frame shows of the visible part: the canvas's texels at level 0,
// the reduced picture's above it.
std::vector<uint8_t> shownPart(const std::pair<std::shared_ptr<MTLTexture>, int>& shown,
                               const MTLRegion& visible) {
    return texels(shown.first, ReducedCanvas::reducedRegion(visible, shown.second));
}

// The same part of a fresh composite of the canvas as it is now.
std::vector<uint8_t> freshPart(const std::shared_ptr<LayeredCanvas>& canvas, int level,
                               const MTLRegion& visible) {
    if (level == 0) {
        RenderedCanvas fresh(canvas);
        frame(fresh);
        return texels(fresh.texture(), visible);
    }
    ReducedCanvas fresh(canvas, level);
    frame(fresh);
    return texels(fresh.texture(), ReducedCanvas::reducedRegion(visible, level));
}

// Whether the frames of the interaction composite from kept textures.
bool splitInUse(const RenderedCanvas& rendered, int level) {
    const RenderedCanvas* composing =
        level == 0 ? &rendered : static_cast<const RenderedCanvas*>(rendered.preview().get());
    return composing != nullptr && composing->splitComposite() != nullptr &&
           composing->splitComposite()->isBuilt();
}

} // namespace

// Steps that name the one layer they change (inside a group at 60 %, with
// layers below and above it) are shown from the kept composites around it: at
// level 0 the visible part is the full composite bit for bit at every step,
// above it the reduced picture of the newest state, also when steps come
// faster than frames or during a catch-up; once caught up the canvas is a
// full composite bit for bit.
TEST(PacedCompositing, StepsOfOneLayerInAGroupShowTheNewestStateAndEndExact) {
    for (const BlendMode mode : everyMode) {
        for (const int level : {0, 1, 2}) {
            const GroupScene s = groupScene(mode);
            RenderedCanvas rendered(s.canvas);
            rendered.setPacing(std::nullopt);
            frame(rendered);
            const MTLRegion visible = makeMTLRegion(8, 8, 72, 64);
            rendered.setPacing(tinyPacing(visible, level));
            for (int step = 0; step < 7; ++step) {
                const MTLRegion before = s.inner->boundingRect();
                if (step % 3 == 2) {
                    s.inner->setOpacity(0.9f - 0.1f * float(step));
                } else {
                    s.inner->moveContents({step % 2 == 0 ? 3 : -2, 1, 0});
                }
                rendered.needsUpdate(unionWith(before, s.inner->boundingRect()), s.inner);
                if (step == 3) {
                    continue; // two steps before one frame
                }
                const auto shown = frame(rendered);
                // A step's frame leaves the catching up for later frames.
                EXPECT_TRUE(rendered.computedAStep()) << "step " << step;
                // The reduced picture is made by the first step, whole.
                EXPECT_TRUE(splitInUse(rendered, level) || (level > 0 && step == 0))
                    << "level " << level << " step " << step;
                const auto expected = freshPart(s.canvas, level, visible);
                if (level == 0) {
                    EXPECT_EQ(shownPart(shown, visible), expected)
                        << rawValue(mode) << " step " << step;
                } else {
                    EXPECT_EQ(shown.second, level);
                    EXPECT_LE(maxDifference(shownPart(shown, visible), expected), 2)
                        << rawValue(mode) << " level " << level << " step " << step;
                }
                if (step == 4) {
                    frame(rendered); // a catch-up frame before the next step
                    EXPECT_FALSE(rendered.computedAStep());
                }
            }
            for (int i = 0; i < 200 && !rendered.isCaughtUp(); ++i) {
                frame(rendered);
            }
            ASSERT_TRUE(rendered.isCaughtUp());
            EXPECT_EQ(texels(rendered.texture()), fullComposite(s.canvas))
                << rawValue(mode) << " level " << level;
        }
    }
}

// The kept composites hold only while every mark names the layer being
// changed: an edit of a layer below it (its pixels, or its opacity) or above
// it, or of the group holding it, shows in the next step's picture.
TEST(PacedCompositing, AnEditOfAnotherLayerShowsInTheNextStep) {
    struct Edit {
        const char* name;
        std::function<void(const GroupScene&, RenderedCanvas&)> apply;
    };
    const Edit edits[] = {
        {"pixels below",
         [](const GroupScene& s, RenderedCanvas& r) {
             auto& below = dynamic_cast<RasterLayer&>(*s.innerBelow);
             below.paste(*solidBitmap(30, 20, {250, 10, 10, 255}), {25, 20, 0});
             r.needsUpdate(makeMTLRegion(25, 20, 30, 20));
         }},
        {"opacity below",
         [](const GroupScene& s, RenderedCanvas& r) {
             s.innerBelow->setOpacity(0.1f);
             r.needsUpdate(s.innerBelow->boundingRect(), s.innerBelow);
         }},
        {"visibility above",
         [](const GroupScene& s, RenderedCanvas& r) {
             s.top->setVisible(false);
             r.needsUpdate(s.top->boundingRect(), s.top);
         }},
        {"group opacity",
         [](const GroupScene& s, RenderedCanvas& r) {
             s.grouped->setOpacity(1.0f);
             r.needsUpdate(s.grouped->boundingRect(), s.grouped);
         }},
    };
    for (const Edit& edit : edits) {
        for (const int level : {0, 1}) {
            const GroupScene s = groupScene(BlendMode::sourceOver);
            RenderedCanvas rendered(s.canvas);
            rendered.setPacing(std::nullopt);
            frame(rendered);
            const MTLRegion visible = makeMTLRegion(0, 0, 96, 80);
            rendered.setPacing(tinyPacing(visible, level));
            const auto step = [&](float opacity) {
                s.inner->setOpacity(opacity);
                rendered.needsUpdate(s.inner->boundingRect(), s.inner);
                return frame(rendered);
            };
            step(0.8f);
            step(0.7f);
            ASSERT_TRUE(splitInUse(rendered, level));
            edit.apply(s, rendered);
            const auto shown = step(0.6f);
            EXPECT_LE(maxDifference(shownPart(shown, visible), freshPart(s.canvas, level, visible)),
                      level == 0 ? 0 : 2)
                << edit.name << " level " << level;
            for (int i = 0; i < 200 && !rendered.isCaughtUp(); ++i) {
                frame(rendered);
            }
            EXPECT_EQ(texels(rendered.texture()), fullComposite(s.canvas)) << edit.name;
        }
    }
}
