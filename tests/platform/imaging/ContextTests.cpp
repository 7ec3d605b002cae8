#include "ImagingTestSupport.hpp"
#include "gpu/cpu/Workers.hpp"
#include "imaging/CIBlendKernel.hpp"
#include "imaging/CIFilter.hpp"
#include "imaging/CIRenderDestination.hpp"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using testing::Pixel8;
using testing::rect;

std::vector<Pixel8> pattern(int64_t w, int64_t h, uint32_t seed) {
    std::vector<Pixel8> px;
    uint32_t s = seed;
    for (int64_t i = 0; i < w * h; ++i) {
        s = s * 1664525u + 1013904223u;
        px.push_back({uint8_t(s >> 24), uint8_t(s >> 16), uint8_t(s >> 8), uint8_t(s >> 4)});
    }
    return px;
}

// A recipe using every kind of node, rendered into a 64 × 64 bitmap.
std::vector<uint8_t> renderScene(const CIContext& context) {
    const CIImage a = testing::straightImage(64, 64, pattern(64, 64, 1));
    const CIImage b = testing::straightImage(40, 50, pattern(40, 50, 2));
    const CIImage rotated = b.transformed(CGAffineTransform::makeRotation(0.3).translatedBy(20, 5));
    const CIImage small = a.transformed(CGAffineTransform::makeScale(0.37, 0.61));
    auto filter = CIFilter::named("CIColorMatrix");
    filter->setValuesForKeys(
        {{kCIInputImageKey, rotated}, {"inputAVector", CIVector(0, 0, 0, 0.7)}});
    CIImage scene = *CIBlendKernel::overlay()->apply(*filter->outputImage(), a);
    scene = *CIBlendKernel::multiply()->apply(small, scene);
    scene = *CIBlendKernel::sourceOut()->apply(scene, b.cropped(rect(0, 0, 10, 64)));
    return context.renderBitmap(scene, rect(-3, -2, 64, 64), CIFormat::RGBA8);
}

TEST(Context, ResultsDoNotDependOnThreadCount) {
    const CIContext context;
    std::vector<uint8_t> one, eight;
    cpu::setWorkerThreadCount(1);
    one = renderScene(context);
    cpu::setWorkerThreadCount(8);
    eight = renderScene(context);
    cpu::setWorkerThreadCount(0);
    ASSERT_EQ(one.size(), size_t(64 * 64 * 4));
    EXPECT_EQ(one, eight);
    // Scratch memory dropped between renders changes nothing.
    context.clearCaches();
    EXPECT_EQ(context.scratchPool()->idleCount(), 0u);
    EXPECT_EQ(renderScene(context), one);
}

TEST(Context, RenderTaskPlacesAndClipsTheRegion) {
    const CIContext context;
    const CIImage image = testing::straightImage(3, 2,
                                                 {{1, 1, 1, 255},
                                                  {2, 2, 2, 255},
                                                  {3, 3, 3, 255},
                                                  {4, 4, 4, 255},
                                                  {5, 5, 5, 255},
                                                  {6, 6, 6, 255}});
    std::vector<Pixel8> memory(4 * 3, Pixel8{9, 9, 9, 9});
    CIRenderDestination destination(memory.data(), 4, 3, 16, CIFormat::RGBA8);
    destination.setAlphaMode(CIRenderDestinationAlphaMode::unpremultiplied);
    // Region (1, 0, 2, 2) lands at (3, 1): only its left column fits.
    context.startTask(image, rect(1, 0, 2, 2), destination, CGPoint{3, 1}).waitUntilCompleted();
    const Pixel8 keep{9, 9, 9, 9};
    // Bitmap memory is top row first: y = 2 is row 0.
    EXPECT_EQ(memory, (std::vector<Pixel8>{keep,
                                           keep,
                                           keep,
                                           {2, 2, 2, 255},
                                           keep,
                                           keep,
                                           keep,
                                           {5, 5, 5, 255},
                                           keep,
                                           keep,
                                           keep,
                                           keep}));
}

TEST(Context, AlphaModesOfTheDestination) {
    const CIContext context;
    const CIImage image = testing::straightImage(1, 1, {{200, 100, 0, 128}});
    struct Case {
        CIRenderDestinationAlphaMode mode;
        Pixel8 expected;
    } cases[] = {{CIRenderDestinationAlphaMode::unpremultiplied, {200, 100, 0, 128}},
                 {CIRenderDestinationAlphaMode::premultiplied, {100, 50, 0, 128}},
                 {CIRenderDestinationAlphaMode::none, {100, 50, 0, 255}}};
    for (const Case& c : cases) {
        Pixel8 px{};
        CIRenderDestination d(px.data(), 1, 1, 4, CIFormat::RGBA8);
        d.setAlphaMode(c.mode);
        context.startTask(image, image.extent(), d, CGPoint{0, 0});
        EXPECT_EQ(px, c.expected) << int(c.mode);
    }
}

TEST(Context, FloatDestinationsAreNotRounded) {
    const CIImage image = testing::floatPixel({0.1234567f, 0.5f, 0.25f, 0.5f});
    const auto out = testing::renderF(CIContext(), image.composited(CIImage(CIColor::white())),
                                      rect(0, 0, 1, 1))[0];
    EXPECT_FLOAT_EQ(out[0], 0.1234567f + 0.5f);
    EXPECT_FLOAT_EQ(out[3], 1.0f);
}

TEST(Context, BadBitmapDataIsRefused) {
    auto data = std::make_shared<std::vector<uint8_t>>(4 * 4 * 3);
    EXPECT_TRUE(CIImage::withBitmapData(data, 16, 4, 3, CIFormat::RGBA8).has_value());
    EXPECT_FALSE(CIImage::withBitmapData(data, 16, 4, 4, CIFormat::RGBA8).has_value());
    EXPECT_FALSE(CIImage::withBitmapData(data, 12, 4, 3, CIFormat::RGBA8).has_value());
    EXPECT_FALSE(CIImage::withBitmapData(data, 16, 0, 3, CIFormat::RGBA8).has_value());
    EXPECT_FALSE(CIImage::withBitmapData(data, 64, 4, 3, CIFormat::RGBAf).has_value());
    EXPECT_FALSE(CIImage::withBitmapData(nullptr, 16, 4, 3, CIFormat::RGBA8).has_value());
}

} // namespace
} // namespace velmora

namespace velmora {
namespace {

// Two 8-bit layers blended into an 8-bit target take a one-pass road; a crop
// (covering everything) forces the tiled float road. Both must agree bit for
// bit, for every mode and alpha mode, including the row tails under 8 pixels.
TEST(Context, OnePassBlendMatchesTiledEvaluation) {
    const int64_t w = 61, h = 5;
    const CIImage fg = testing::straightImage(w, h, pattern(w, h, 7));
    const CIImage bg = testing::straightImage(w, h, pattern(w, h, 8));
    const CIContext straight({.outputPremultiplied = false});
    const CIContext premultiplied;
    const std::shared_ptr<const CIBlendKernel>* kernels[] = {
        &CIBlendKernel::sourceOver(), &CIBlendKernel::sourceOut(),  &CIBlendKernel::multiply(),
        &CIBlendKernel::overlay(),    &CIBlendKernel::linearBurn(), &CIBlendKernel::linearDodge()};
    for (const auto* k : kernels) {
        const CIImage onePass = *(*k)->apply(fg, bg);
        const CIImage tiled = *(*k)->apply(fg.cropped(rect(-1, -1, 100, 100)), bg);
        for (const CIContext* c : {&straight, &premultiplied}) {
            EXPECT_EQ(c->renderBitmap(onePass, rect(0, 0, w, h), CIFormat::RGBA8),
                      c->renderBitmap(tiled, rect(0, 0, w, h), CIFormat::RGBA8))
                << (*k)->name();
        }
    }
}

} // namespace
} // namespace velmora

namespace velmora {
namespace {

// Layers are stored straight, moved by whole pixels, then premultiplied: the
// premultiplication moves into the read, and the one-pass road takes such a
// layer over another. Both must match the tiled road.
TEST(Context, MovedLayersPremultiplyOnReadLikeTheTiledRoad) {
    const int64_t w = 37, h = 6;
    const auto stored = [&](uint32_t seed) {
        auto data = std::make_shared<std::vector<uint8_t>>();
        for (const Pixel8& p : pattern(w, h, seed)) {
            data->insert(data->end(), p.begin(), p.end());
        }
        // Taken as stored, as a texture is.
        return *CIImage::withBitmapData(data, size_t(w) * 4, w, h, CIFormat::RGBA8);
    };
    const CGAffineTransform move = CGAffineTransform::makeTranslation(3, -2);
    const CIImage layer = stored(11).transformed(move).premultiplyingAlpha();
    const CIImage below = stored(12).premultiplyingAlpha();
    const CIImage tiledLayer = stored(11).transformed(move).cropped(rect(-50, -50, 200, 200));
    const CIContext context({.outputPremultiplied = false});
    const CGRect region = rect(3, 0, w - 3, h - 2); // where both layers have pixels
    EXPECT_EQ(context.renderBitmap(*CIBlendKernel::overlay()->apply(layer, below), region,
                                   CIFormat::RGBA8),
              context.renderBitmap(
                  *CIBlendKernel::overlay()->apply(tiledLayer.premultiplyingAlpha(), below), region,
                  CIFormat::RGBA8));
    // With the layers' opacities applied, on either side of the blend.
    const auto withOpacity = [](const CIImage& image, double opacity) {
        auto filter = CIFilter::named("CIColorMatrix");
        filter->setValuesForKeys(
            {{kCIInputImageKey, image}, {"inputAVector", CIVector(0, 0, 0, opacity)}});
        return *filter->outputImage();
    };
    EXPECT_EQ(context.renderBitmap(*CIBlendKernel::sourceOver()->apply(withOpacity(layer, 0.37),
                                                                       withOpacity(below, 0.8)),
                                   region, CIFormat::RGBA8),
              context.renderBitmap(
                  *CIBlendKernel::sourceOver()->apply(
                      withOpacity(tiledLayer.premultiplyingAlpha(), 0.37), withOpacity(below, 0.8)),
                  region, CIFormat::RGBA8));
}

} // namespace
} // namespace velmora
