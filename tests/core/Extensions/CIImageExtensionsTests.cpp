#include "Extensions/CIImageExtensions.hpp"
#include "imaging/CIContext.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

using namespace velmora;

namespace {

TEST(CanvasFillImage, CoversEveryCanvasAndNothingFarBeyond) {
    const CIImage image = canvasFillImage(CIColor{1, 0.5, 0, 1});
    EXPECT_EQ(image.extent(), (CGRect{{-4096, -4096}, {12096, 12096}}));
    const CIContext context;
    const struct {
        CGRect bounds;
        std::vector<uint8_t> pixels;
    } cases[] = {
        {{{0, 0}, {1, 1}}, {255, 128, 0, 255}},
        {{{7999, 7999}, {1, 1}}, {255, 128, 0, 255}},
        {{{-4096, -4096}, {1, 1}}, {255, 128, 0, 255}},
        {{{8000, 0}, {1, 1}}, {0, 0, 0, 0}},
        {{{0, -4097}, {1, 1}}, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(context.renderBitmap(image, c.bounds, CIFormat::RGBA8), c.pixels)
            << c.bounds.origin.x << ", " << c.bounds.origin.y;
    }
}

} // namespace
