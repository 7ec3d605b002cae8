#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "Rendering/BlendKernel.hpp"
#include "imaging/CIContext.hpp"

#include <gtest/gtest.h>

using namespace velmora;

namespace {

TEST(BlendKernel, EachModeMapsToItsKernel) {
    const struct {
        BlendMode mode;
        const std::shared_ptr<const CIBlendKernel>& kernel;
    } rows[] = {{BlendMode::sourceOver, CIBlendKernel::sourceOver()},
                {BlendMode::multiply, CIBlendKernel::multiply()},
                {BlendMode::overlay, CIBlendKernel::overlay()},
                {BlendMode::linearBurn, CIBlendKernel::linearBurn()},
                {BlendMode::linearDodge, CIBlendKernel::linearDodge()}};
    for (const auto& row : rows) {
        const auto* builtIn = dynamic_cast<const BuiltInBlendKernel*>(blendKernel(row.mode).get());
        ASSERT_NE(builtIn, nullptr) << rawValue(row.mode);
        EXPECT_EQ(builtIn->kernel(), row.kernel) << rawValue(row.mode);
    }
    const auto& eraser = blendKernel(BlendMode::eraser);
    const auto* inverted = dynamic_cast<const InvertedBlendKernel*>(eraser.get());
    ASSERT_NE(inverted, nullptr);
    EXPECT_EQ(inverted->subkernel(), CIBlendKernel::sourceOut());
    EXPECT_EQ(blendKernel(BlendMode::eraser).get(), eraser.get());
}

std::array<uint8_t, 4> erase(CIColor foreground, CIColor background) {
    const CIImage fg = CIImage(foreground).cropped({{0, 0}, {1, 1}});
    const CIImage bg = CIImage(background).cropped({{0, 0}, {1, 1}});
    const auto result = blendKernel(BlendMode::eraser)->apply(fg, bg);
    EXPECT_TRUE(result.has_value());
    std::array<uint8_t, 4> pixel{9, 9, 9, 9};
    CIContext({.outputPremultiplied = false})
        .render(*result, pixel.data(), 4, {{0, 0}, {1, 1}}, CIFormat::RGBA8);
    return pixel;
}

TEST(BlendKernel, EraserExtremes) {
    const CIColor red{1, 0, 0, 1}, green{0, 1, 0, 1};
    // Opaque over opaque: nothing left, and the eraser's own colour never shows.
    EXPECT_EQ(erase(green, red), (std::array<uint8_t, 4>{0, 0, 0, 0}));
    // A transparent eraser keeps the background as it is.
    EXPECT_EQ(erase(CIColor{0, 1, 0, 0}, red), (std::array<uint8_t, 4>{255, 0, 0, 255}));
    // Half alpha removes half of the background's alpha only.
    EXPECT_EQ(erase(CIColor{0, 1, 0, 0.5}, red), (std::array<uint8_t, 4>{255, 0, 0, 128}));
}

TEST(BlendKernel, ClipBlitRegions) {
    using Result = std::optional<std::pair<MTLOrigin, MTLRegion>>;
    const auto hit = [](MTLOrigin offset, MTLRegion region) { return Result{{offset, region}}; };
    const struct {
        MTLRegion region;
        int64_t width, height;
        Result expected;
    } cases[] = {
        {makeMTLRegion(-10, 5, 30, 40), 100, 20, hit({10, 0, 0}, makeMTLRegion(0, 5, 20, 15))},
        {makeMTLRegion(3, 4, 10, 10), 100, 20, hit({0, 0, 0}, makeMTLRegion(3, 4, 10, 10))},
        {makeMTLRegion(0, 0, 500, 500), 100, 20, hit({0, 0, 0}, makeMTLRegion(0, 0, 100, 20))},
        {makeMTLRegion(-5, -7, 10, 10), 100, 20, hit({5, 7, 0}, makeMTLRegion(0, 0, 5, 3))},
        // z and depth pass through.
        {makeMTLRegion(1, 1, 2, 3, 4, 5), 100, 20, hit({0, 0, 0}, makeMTLRegion(1, 1, 2, 3, 4, 5))},
        {makeMTLRegion(100, 0, 10, 10), 100, 20, std::nullopt},
        {makeMTLRegion(0, 20, 10, 10), 100, 20, std::nullopt},
        {makeMTLRegion(150, 0, 10, 10), 100, 20, std::nullopt},
        {makeMTLRegion(-10, 0, 10, 10), 100, 20, std::nullopt},
        {makeMTLRegion(-20, 0, 10, 10), 100, 20, std::nullopt},
        {makeMTLRegion(0, -11, 10, 10), 100, 20, std::nullopt},
        {makeMTLRegion(0, 0, 0, 10), 100, 20, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(clipBlitRegions(c.region, c.width, c.height), c.expected) << c.region;
    }
}

} // namespace
