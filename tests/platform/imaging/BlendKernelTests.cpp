#include "ImagingTestSupport.hpp"
#include "imaging/CIBlendKernel.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>

namespace velmora {
namespace {

using testing::PixelF;

// Straightforward double-precision forms of the blend formulas, written with
// Cs = S/Sa and Cd = D/Da as they are usually stated.
PixelF reference(const std::string& mode, const PixelF& s, const PixelF& d) {
    const double sa = s[3], da = d[3];
    PixelF r{};
    if (mode == "sourceOver") {
        for (int c = 0; c < 4; ++c) {
            r[c] = float(s[c] + d[c] * (1 - sa));
        }
        return r;
    }
    if (mode == "sourceOut") {
        for (int c = 0; c < 4; ++c) {
            r[c] = float(s[c] * (1 - da));
        }
        return r;
    }
    std::function<double(double, double)> b;
    if (mode == "multiply") {
        b = [](double cs, double cd) { return cs * cd; };
    } else if (mode == "overlay") {
        b = [](double cs, double cd) {
            return cd <= 0.5 ? 2 * cs * cd : 1 - 2 * (1 - cs) * (1 - cd);
        };
    } else if (mode == "linearBurn") {
        b = [](double cs, double cd) { return std::max(cs + cd - 1, 0.0); };
    } else {
        b = [](double cs, double cd) { return std::min(cs + cd, 1.0); };
    }
    for (int c = 0; c < 3; ++c) {
        const double cs = sa > 0 ? s[c] / sa : 0, cd = da > 0 ? d[c] / da : 0;
        r[c] = float(s[c] * (1 - da) + d[c] * (1 - sa) + sa * da * b(cs, cd));
    }
    r[3] = float(sa + da - sa * da);
    return r;
}

struct NamedPixel {
    const char* name;
    PixelF premultiplied;
};

// Transparent, partial (colour below and above one half) and opaque pixels.
const NamedPixel referencePixels[] = {
    {"transparent", {0, 0, 0, 0}},
    {"partialDark", {0.1f, 0.2f, 0.05f, 0.5f}},
    {"partialLight", {0.3f, 0.45f, 0.2f, 0.5f}},
    {"quarter", {0.2f, 0.05f, 0.125f, 0.25f}},
    {"opaqueDark", {0.2f, 0.4f, 0.1f, 1.0f}},
    {"opaqueLight", {0.9f, 0.6f, 0.75f, 1.0f}},
};

struct KernelCase {
    const char* mode;
    const std::shared_ptr<const CIBlendKernel>& (*kernel)();
};

const KernelCase kernels[] = {
    {"sourceOver", &CIBlendKernel::sourceOver}, {"sourceOut", &CIBlendKernel::sourceOut},
    {"multiply", &CIBlendKernel::multiply},     {"overlay", &CIBlendKernel::overlay},
    {"linearBurn", &CIBlendKernel::linearBurn}, {"linearDodge", &CIBlendKernel::linearDodge},
};

TEST(BlendKernel, EveryFormulaOnReferencePixels) {
    const CIContext context;
    for (const KernelCase& k : kernels) {
        EXPECT_EQ(k.kernel()->name(), k.mode);
        for (const NamedPixel& s : referencePixels) {
            for (const NamedPixel& d : referencePixels) {
                const CIImage out = *k.kernel()->apply(testing::floatPixel(s.premultiplied),
                                                       testing::floatPixel(d.premultiplied));
                const PixelF got = testing::renderF(context, out, testing::rect(0, 0, 1, 1))[0];
                const PixelF want = reference(k.mode, s.premultiplied, d.premultiplied);
                for (int c = 0; c < 4; ++c) {
                    EXPECT_NEAR(got[c], want[c], 2e-6)
                        << k.mode << " " << s.name << " over " << d.name << " channel " << c;
                }
            }
        }
    }
}

// Straight 8-bit layers in, straight 8-bit out: premultiply on read, blend,
// un-premultiply and round on write.
TEST(BlendKernel, EightBitLayersRoundTrip) {
    const CIContext context({.outputPremultiplied = false});
    const std::vector<testing::Pixel8> fg = {
        {255, 0, 0, 128}, {10, 200, 30, 255}, {0, 0, 0, 0}, {90, 90, 250, 64}};
    const std::vector<testing::Pixel8> bg = {
        {0, 0, 255, 255}, {100, 100, 100, 0}, {40, 50, 60, 200}, {200, 10, 10, 255}};
    const CIImage s = testing::straightImage(4, 1, fg);
    const CIImage d = testing::straightImage(4, 1, bg);
    for (const KernelCase& k : kernels) {
        const auto got =
            testing::render8(context, *k.kernel()->apply(s, d), testing::rect(0, 0, 4, 1));
        for (size_t i = 0; i < 4; ++i) {
            PixelF sp{}, dp{};
            for (int c = 0; c < 4; ++c) {
                sp[c] = fg[i][c] / 255.0f * (c < 3 ? fg[i][3] / 255.0f : 1.0f);
                dp[c] = bg[i][c] / 255.0f * (c < 3 ? bg[i][3] / 255.0f : 1.0f);
            }
            const PixelF r = reference(k.mode, sp, dp);
            for (int c = 0; c < 4; ++c) {
                const double straight = c < 3 ? (r[3] > 0 ? r[c] / r[3] : 0.0) : r[3];
                const double want = std::round(std::clamp(straight, 0.0, 1.0) * 255);
                EXPECT_NEAR(got[i][c], want, 1) << k.mode << " pixel " << i << " channel " << c;
            }
        }
    }
}

TEST(BlendKernel, EmptyInputsAndExtents) {
    const CIImage a = CIImage(CIColor{1, 0, 0, 1}).cropped(testing::rect(0, 0, 4, 4));
    const CIImage b = CIImage(CIColor{0, 0, 1, 1}).cropped(testing::rect(2, 2, 4, 4));
    EXPECT_EQ(CIBlendKernel::sourceOver()->apply(a, b)->extent(), testing::rect(0, 0, 6, 6));
    EXPECT_EQ(CIBlendKernel::multiply()->apply(a, b)->extent(), testing::rect(0, 0, 6, 6));
    EXPECT_EQ(CIBlendKernel::sourceOut()->apply(a, b)->extent(), testing::rect(0, 0, 4, 4));
    // An empty foreground leaves the background; an empty background the foreground.
    EXPECT_EQ(*CIBlendKernel::overlay()->apply(CIImage::empty(), b), b);
    EXPECT_EQ(*CIBlendKernel::linearBurn()->apply(a, CIImage::empty()), a);
    EXPECT_TRUE(CIBlendKernel::sourceOut()->apply(CIImage::empty(), b)->isEmpty());
    // Shared kernel objects.
    EXPECT_EQ(CIBlendKernel::sourceOut().get(), CIBlendKernel::sourceOut().get());
}

// The eraser is source-out with the images swapped.
TEST(BlendKernel, SwappedSourceOutErases) {
    const CIContext context;
    const CIImage layer = testing::floatPixel({0.2f, 0.4f, 0.6f, 1});
    const CIImage opaqueEraser = testing::floatPixel({0.9f, 0.9f, 0.9f, 1});
    const CIImage halfEraser = testing::floatPixel({0.5f, 0, 0, 0.5f});
    const CIImage clearEraser = testing::floatPixel({0, 0, 0, 0});
    const auto erase = [&](const CIImage& eraser) {
        return testing::renderF(context, *CIBlendKernel::sourceOut()->apply(layer, eraser),
                                testing::rect(0, 0, 1, 1))[0];
    };
    EXPECT_EQ(erase(opaqueEraser), (PixelF{0, 0, 0, 0}));
    EXPECT_EQ(erase(clearEraser), (PixelF{0.2f, 0.4f, 0.6f, 1}));
    const PixelF half = erase(halfEraser);
    EXPECT_FLOAT_EQ(half[0], 0.1f);
    EXPECT_FLOAT_EQ(half[3], 0.5f);
}

} // namespace
} // namespace velmora
