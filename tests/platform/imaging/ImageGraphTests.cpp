#include "ImagingTestSupport.hpp"
#include "imaging/CIBlendKernel.hpp"
#include "imaging/CIFilter.hpp"
#include "imaging/PixelKernels.hpp"

#include <cmath>
#include <gtest/gtest.h>

namespace velmora {
namespace {

using testing::Pixel8;
using testing::rect;

TEST(PixelConversion, BytesToFloatAreExactQuotients) {
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(imaging::kernels::unorm8ToFloat(uint8_t(v)), float(v) / 255.0f) << v;
    }
}

TEST(PixelConversion, FloatToByteRoundsHalvesUpAndClamps) {
    struct Case {
        float in;
        uint8_t out;
    } cases[] = {{0.0f, 0},       {-0.5f, 0},      {2.0f, 255},        {1.0f, 255},
                 {0.5f, 128},     {2.5f / 255, 3}, {2.4999f / 255, 2}, {NAN, 0},
                 {INFINITY, 255}, {1.0f / 255, 1}, {254.5f / 255, 255}};
    for (const Case& c : cases) {
        EXPECT_EQ(imaging::kernels::floatToUnorm8(c.in), c.out) << c.in;
    }
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(imaging::kernels::floatToUnorm8(imaging::kernels::unorm8ToFloat(uint8_t(v))), v);
    }
}

// A 3 × 2 picture with every pixel distinct, top row first.
const std::vector<Pixel8> asymmetric = {{255, 0, 0, 255},  {0, 255, 0, 255},  {0, 0, 255, 255},
                                        {10, 20, 30, 255}, {40, 50, 60, 255}, {70, 80, 90, 255}};

TEST(ImageGraph, BitmapRoundTripKeepsRowOrder) {
    const CIContext context;
    const CIImage image = testing::straightImage(3, 2, asymmetric);
    EXPECT_EQ(image.extent(), rect(0, 0, 3, 2));
    EXPECT_EQ(testing::render8(context, image, image.extent()), asymmetric);
    // The top row of the picture is y = 1.
    EXPECT_EQ(testing::render8(context, image, rect(0, 1, 3, 1)),
              std::vector<Pixel8>(asymmetric.begin(), asymmetric.begin() + 3));
}

TEST(ImageGraph, CropAndIntegerTranslation) {
    const CIContext context;
    const CIImage image = testing::straightImage(3, 2, asymmetric);
    const CIImage cropped = image.cropped(rect(1, 0, 5, 1));
    EXPECT_EQ(cropped.extent(), rect(1, 0, 2, 1));
    const Pixel8 clear{0, 0, 0, 0};
    EXPECT_EQ(testing::render8(context, cropped, rect(0, 0, 3, 2)),
              (std::vector<Pixel8>{clear, clear, clear, clear, asymmetric[4], asymmetric[5]}));

    const CIImage moved = image.transformed(CGAffineTransform::makeTranslation(-1, 1));
    EXPECT_EQ(moved.extent(), rect(-1, 1, 3, 2));
    EXPECT_EQ(testing::render8(context, moved, rect(0, 1, 2, 2)),
              (std::vector<Pixel8>{asymmetric[1], asymmetric[2], asymmetric[4], asymmetric[5]}));
    EXPECT_TRUE(image.cropped(rect(5, 5, 1, 1)).isEmpty());
    EXPECT_TRUE(image.transformed(CGAffineTransform::makeScale(0, 1)).isEmpty());
}

TEST(ImageGraph, ConstantColourIsInfiniteAndPremultiplied) {
    const CIImage colour(CIColor{1, 0.5, 0, 0.5});
    EXPECT_TRUE(imaging::isInfinite(colour.extent()));
    const auto px = testing::renderF(CIContext(), colour, rect(-1000, 7, 2, 1));
    ASSERT_EQ(px.size(), 2u);
    EXPECT_EQ(px[1], (testing::PixelF{0.5f, 0.25f, 0, 0.5f}));
    const CIImage canvas = colour.cropped(rect(-4096, -4096, 12096, 12096));
    EXPECT_EQ(canvas.extent(), rect(-4096, -4096, 12096, 12096));
}

TEST(ImageGraph, PremultiplyAndUnpremultiply) {
    const CIContext premultipliedOut;
    const CIImage straight = testing::straightImage(2, 1, {{200, 100, 50, 128}, {9, 9, 9, 0}});
    // Premultiplied on read, written premultiplied.
    EXPECT_EQ(testing::render8(premultipliedOut, straight, rect(0, 0, 2, 1)),
              (std::vector<Pixel8>{{100, 50, 25, 128}, {0, 0, 0, 0}}));
    // Un-premultiplying gives back the straight colour; alpha 0 gives 0.
    const CIContext straightOut({.outputPremultiplied = false});
    EXPECT_EQ(testing::render8(straightOut, straight, rect(0, 0, 2, 1)),
              (std::vector<Pixel8>{{200, 100, 50, 128}, {0, 0, 0, 0}}));
    const auto twice =
        testing::renderF(premultipliedOut, straight.unpremultiplyingAlpha(), rect(0, 0, 1, 1));
    EXPECT_NEAR(twice[0][0], 200.0f / 255, 1e-6);
}

TEST(ImageGraph, OpacityFilterScalesAlphaOnly) {
    const auto filter = CIFilter::named("CIColorMatrix");
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(CIFilter::named("CIGaussianBlur"), nullptr);
    const CIImage image = testing::straightImage(1, 1, {{200, 100, 50, 255}});
    const CIContext context({.outputPremultiplied = false});
    struct Case {
        double opacity;
        Pixel8 expected;
    } cases[] = {{0.5, {200, 100, 50, 128}}, {0.0, {0, 0, 0, 0}}, {1.0, {200, 100, 50, 255}}};
    for (const Case& c : cases) {
        filter->setDefaults();
        filter->setValuesForKeys(
            {{kCIInputImageKey, image}, {"inputAVector", CIVector(0, 0, 0, c.opacity)}});
        const CIImage out = *filter->outputImage();
        EXPECT_EQ(out.extent(), image.extent());
        EXPECT_EQ(testing::render8(context, out, rect(0, 0, 1, 1))[0], c.expected) << c.opacity;
    }
    // An image returned earlier keeps its own inputs.
    filter->setValuesForKeys({{kCIInputImageKey, image}, {"inputAVector", CIVector(0, 0, 0, 0.5)}});
    const CIImage half = *filter->outputImage();
    filter->setValue(CIVector(0, 0, 0, 0), "inputAVector");
    EXPECT_EQ(testing::render8(context, half, rect(0, 0, 1, 1))[0][3], 128);
    filter->setDefaults();
    EXPECT_FALSE(filter->outputImage().has_value());
}

TEST(ImageGraph, GeneralColourMatrixWorksOnStraightColour) {
    const auto filter = CIFilter::named("CIColorMatrix");
    const CIImage image = testing::straightImage(1, 1, {{255, 0, 0, 128}});
    // Swap red and blue, add 0.2 to green.
    filter->setValuesForKeys({{kCIInputImageKey, image},
                              {"inputRVector", CIVector(0, 0, 1, 0)},
                              {"inputBVector", CIVector(1, 0, 0, 0)},
                              {"inputBiasVector", CIVector(0, 0.2, 0, 0)}});
    const CIContext context({.outputPremultiplied = false});
    EXPECT_EQ(testing::render8(context, *filter->outputImage(), rect(0, 0, 1, 1))[0],
              (Pixel8{0, 51, 255, 128}));
}

TEST(ImageGraph, AreaDownscaleAveragesWholeBlocks) {
    // 4 × 2 of two colours per 2 × 2 block halves to 2 × 1 averages.
    const std::vector<Pixel8> px = {{0, 0, 0, 255},   {255, 255, 255, 255}, {255, 0, 0, 255},
                                    {255, 0, 0, 255}, {255, 255, 255, 255}, {0, 0, 0, 255},
                                    {255, 0, 0, 0},   {255, 0, 0, 0}};
    const CIImage image = testing::straightImage(4, 2, px);
    const CIImage half = image.transformed(CGAffineTransform::makeScale(0.5, 0.5));
    EXPECT_EQ(half.extent(), rect(0, 0, 2, 1));
    const auto out = testing::renderF(CIContext(), half, rect(0, 0, 2, 1));
    EXPECT_NEAR(out[0][0], 0.5f, 1e-6);
    EXPECT_NEAR(out[0][3], 1.0f, 1e-6);
    EXPECT_NEAR(out[1][0], 0.5f, 1e-6); // two opaque red, two transparent
    EXPECT_NEAR(out[1][3], 0.5f, 1e-6);
    // A third keeps partial coverage at the far edge.
    const CIImage third = image.transformed(CGAffineTransform::makeScale(1.0 / 3, 1.0 / 3));
    EXPECT_NEAR(third.extent().size.width, 4.0 / 3, 1e-12);
    const auto edge = testing::renderF(CIContext(), third, rect(0, 0, 2, 1));
    EXPECT_LT(edge[1][3], edge[0][3]);
}

TEST(ImageGraph, NearestAndBilinearSampling) {
    const CIImage image = testing::straightImage(2, 1, {{0, 0, 0, 255}, {255, 255, 255, 255}});
    const CGAffineTransform twice = CGAffineTransform::makeScale(2, 1);
    const CIContext context;
    const auto nearest =
        testing::render8(context, image.samplingNearest().transformed(twice), rect(0, 0, 4, 1));
    EXPECT_EQ(nearest,
              (std::vector<Pixel8>{
                  {0, 0, 0, 255}, {0, 0, 0, 255}, {255, 255, 255, 255}, {255, 255, 255, 255}}));
    const auto linear = testing::render8(context, image.transformed(twice), rect(0, 0, 4, 1));
    // Sample points 0.25, 0.75, 1.25, 1.75 of the source; its edges fade to transparent.
    EXPECT_EQ(linear[1][0], 64);
    EXPECT_EQ(linear[2][0], 191);
    EXPECT_EQ(linear[0][3], 191);
    EXPECT_EQ(linear[1][3], 255);
}

} // namespace
} // namespace velmora
