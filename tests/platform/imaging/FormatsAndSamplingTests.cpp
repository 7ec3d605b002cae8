#include "ImagingTestSupport.hpp"
#include "graphics/ColorManagement.hpp"
#include "imaging/CIFilter.hpp"
#include "imaging/TileBuffer.hpp"

#include <cmath>
#include <gtest/gtest.h>

namespace velmora {
namespace {

using testing::Pixel8;
using testing::PixelF;
using testing::rect;

TEST(ScratchArena, MarksReleaseAndBigRequestsGetTheirOwnBlock) {
    imaging::ScratchArena arena;
    const size_t start = arena.mark();
    const imaging::TileBuffer a = arena.allocate(100, 3);
    a.planes[3][299] = 1.0f;
    const size_t afterA = arena.mark();
    // Larger than a block: served whole, and writable to its last float.
    const imaging::TileBuffer big = arena.allocate(1 << 11, 1 << 10);
    big.planes[3][big.count() - 1] = 2.0f;
    EXPECT_EQ(a.planes[3][299], 1.0f);
    arena.release(afterA);
    // Released space is handed out again, and earlier tiles are untouched.
    const imaging::TileBuffer again = arena.allocate(1 << 11, 1 << 10);
    EXPECT_EQ(again.planes[0], big.planes[0]);
    EXPECT_EQ(a.planes[3][299], 1.0f);
    arena.release(start);
    EXPECT_EQ(arena.allocate(100, 3).planes[0], a.planes[0]);
    // Planes are 64-byte aligned and do not overlap.
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(a.planes[c]) % 64, 0u);
    }
    EXPECT_GE(a.planes[1] - a.planes[0], 300);
}

TEST(StorageFormats, EveryFormatRoundTripsThroughTheGraph) {
    // Half and full floats keep exact eighths; 8-bit formats keep bytes; BGRA swaps.
    const float values[4] = {0.125f, 0.5f, 0.875f, 1.0f};
    const CIContext context;
    struct Case {
        CIFormat format;
        std::vector<uint8_t> bytes;
    };
    std::vector<uint8_t> f32(16), f16(8);
    std::memcpy(f32.data(), values, 16);
    const _Float16 halves[4] = {_Float16(0.125f), _Float16(0.5f), _Float16(0.875f), _Float16(1.0f)};
    std::memcpy(f16.data(), halves, 8);
    const Case cases[] = {{CIFormat::RGBAf, f32},
                          {CIFormat::RGBAh, f16},
                          {CIFormat::RGBA8, {32, 128, 223, 255}},
                          {CIFormat::BGRA8, {223, 128, 32, 255}}};
    for (const Case& c : cases) {
        auto data = std::make_shared<std::vector<uint8_t>>(c.bytes);
        const CIImage image = *CIImage::withBitmapData(data, data->size(), 1, 1, c.format);
        const PixelF px = testing::renderF(context, image, rect(0, 0, 1, 1))[0];
        const float tolerance =
            c.format == CIFormat::RGBA8 || c.format == CIFormat::BGRA8 ? 0.003f : 0;
        for (int k = 0; k < 4; ++k) {
            EXPECT_NEAR(px[k], values[k], tolerance) << int(c.format) << " channel " << k;
        }
        EXPECT_EQ(context.renderBitmap(image, rect(0, 0, 1, 1), c.format), c.bytes)
            << int(c.format);
    }
}

TEST(Sampling, QuarterTurnMovesPixelsExactly) {
    // 2 × 1: left red, right green. Turned a quarter about the origin, then
    // moved back into the first quadrant, it stands 1 × 2 with red at the bottom.
    const CIImage image = testing::straightImage(2, 1, {{255, 0, 0, 255}, {0, 255, 0, 255}});
    const CGAffineTransform t = CGAffineTransform::makeRotation(M_PI / 2).concatenating(
        CGAffineTransform::makeTranslation(1, 0));
    const CIImage turned = image.samplingNearest().transformed(t);
    EXPECT_NEAR(turned.extent().origin.x, 0, 1e-9);
    EXPECT_NEAR(turned.extent().size.height, 2, 1e-9);
    const auto px = testing::render8(CIContext(), turned, rect(0, 0, 1, 2));
    EXPECT_EQ(px[0], (Pixel8{0, 255, 0, 255})); // top row of the bitmap is y = 1
    EXPECT_EQ(px[1], (Pixel8{255, 0, 0, 255}));
}

TEST(Sampling, WholeImageDownscaleAveragesEverything) {
    std::vector<Pixel8> px;
    double sum = 0;
    for (int i = 0; i < 64 * 48; ++i) {
        const uint8_t v = uint8_t((i * 37) % 256);
        px.push_back({v, 0, 0, 255});
        sum += v;
    }
    const CIImage image = testing::straightImage(64, 48, px);
    const CIImage one = image.transformed(CGAffineTransform::makeScale(1.0 / 64, 1.0 / 48));
    EXPECT_EQ(one.extent(), rect(0, 0, 1, 1));
    const PixelF out = testing::renderF(CIContext(), one, rect(0, 0, 1, 1))[0];
    EXPECT_NEAR(out[0], sum / (64 * 48) / 255, 1e-5);
    EXPECT_NEAR(out[3], 1.0f, 1e-5);
    // Without the high-quality path the same scale samples only a few pixels.
    const CIImage sampled =
        image.transformed(CGAffineTransform::makeScale(1.0 / 64, 1.0 / 48), false);
    EXPECT_GT(std::fabs(testing::renderF(CIContext(), sampled, rect(0, 0, 1, 1))[0][0] - out[0]),
              1e-3);
}

TEST(ImageGraph, FractionalCropKeepsPixelsWhoseCentresAreInside) {
    const CIImage white = CIImage(CIColor::white());
    const auto px =
        testing::render8(CIContext(), white.cropped(rect(0.6, 0, 1.8, 1)), rect(0, 0, 3, 1));
    // Centres 0.5, 1.5, 2.5 against [0.6, 2.4]: only the middle pixel.
    EXPECT_EQ(px[0][3], 0);
    EXPECT_EQ(px[1][3], 255);
    EXPECT_EQ(px[2][3], 0);
}

TEST(ImageGraph, ColourMatrixBiasOnNothingFillsEverywhere) {
    const auto filter = CIFilter::named("CIColorMatrix");
    filter->setValuesForKeys(
        {{kCIInputImageKey, CIImage::empty()}, {"inputBiasVector", CIVector(0, 0, 1, 0.5)}});
    const CIImage out = *filter->outputImage();
    EXPECT_TRUE(imaging::isInfinite(out.extent()));
    const auto px =
        testing::render8(CIContext({.outputPremultiplied = false}), out, rect(123, -9, 1, 1));
    EXPECT_EQ(px[0], (Pixel8{0, 0, 255, 128}));
    // Without a bias the empty image stays empty.
    filter->setValue(CIVector(0, 0, 0, 0), "inputBiasVector");
    EXPECT_TRUE(filter->outputImage()->isEmpty());
}

TEST(BitmapBridge, PremultipliedAndOpaqueBitmaps) {
    auto premultiplied =
        NSBitmapImageRep::make(1, 1, 8, 4, true, false, NSColorSpaceNames::deviceRGB);
    ASSERT_NE(premultiplied, nullptr);
    ASSERT_TRUE(premultiplied->isAlphaPremultiplied());
    const uint8_t p[4] = {100, 50, 0, 128};
    std::memcpy(premultiplied->bitmapData(), p, 4);
    const CIContext straightOut({.outputPremultiplied = false});
    EXPECT_EQ(
        testing::render8(straightOut, *CIImage::withBitmap(premultiplied), rect(0, 0, 1, 1))[0],
        (Pixel8{199, 100, 0, 128}));

    auto rgb = NSBitmapImageRep::make(2, 1, 8, 3, false, false, NSColorSpaceNames::deviceRGB);
    ASSERT_NE(rgb, nullptr);
    const uint8_t q[6] = {1, 2, 3, 4, 5, 6};
    std::memcpy(rgb->bitmapData(), q, 6);
    const CIImage opaque = *CIImage::withBitmap(rgb);
    EXPECT_EQ(testing::render8(straightOut, opaque, rect(0, 0, 2, 1)),
              (std::vector<Pixel8>{{1, 2, 3, 255}, {4, 5, 6, 255}}));
}

} // namespace
} // namespace velmora

namespace velmora {
namespace {

// Scales far below one pixel pull only the input pixels they sample, so
// they neither run out of memory nor take long.
TEST(Sampling, ExtremeDownscalesStayBounded) {
    const CIImage image =
        testing::straightImage(64, 64, std::vector<Pixel8>(64 * 64, {0, 0, 255, 255}));
    const CIContext context;
    for (bool highQuality : {true, false}) {
        const CIImage tiny =
            image.transformed(CGAffineTransform::makeScale(1e-9, 1e-9), highQuality);
        const auto px = testing::renderF(context, tiny, rect(0, 0, 1, 1))[0];
        EXPECT_LE(px[3], 1.0f) << highQuality;
        // A large region around the vanishing image renders quickly as nothing.
        const auto wide = testing::renderF(context, tiny, rect(5, 5, 64, 64));
        EXPECT_EQ(wide[0], (PixelF{0, 0, 0, 0}));
    }
    const CIImage colour =
        CIImage(CIColor{0, 1, 0, 1}).transformed(CGAffineTransform::makeScale(1e-12, 1e-12));
    EXPECT_EQ(testing::renderF(context, colour, rect(-3, 7, 1, 1))[0], (PixelF{0, 1, 0, 1}));
}

} // namespace
} // namespace velmora
