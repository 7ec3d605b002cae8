#include "Rendering/CanvasShaders.hpp"
#include "gpu/MTLDevice.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

using namespace velmora;
using shaders::Sampling;

namespace {

// A texture's memory as the sampler sees it, without a device.
struct HostTexture {
    HostTexture(int64_t w, int64_t h, MTLPixelFormat format = MTLPixelFormat::rgba8Unorm)
        : bytes(static_cast<size_t>(w * h * 4)) {
        contents = {bytes.data(), w * 4, w, h, format, 4};
    }
    void set(int64_t x, int64_t y, std::array<uint8_t, 4> v) {
        std::copy(v.begin(), v.end(), bytes.begin() + (y * contents.width + x) * 4);
    }
    std::vector<uint8_t> bytes;
    MTLTextureContents contents;
};

std::vector<float> sample(const HostTexture& t, double x, double y, double dx, double dy,
                          int64_t count, Sampling s) {
    std::vector<float> out(static_cast<size_t>(count * 4));
    shaders::sampleSpan(t.contents, x, y, dx, dy, count, s, out.data());
    return out;
}

TEST(CanvasSampling, ChoosesTheFilterFromThePixelFootprint) {
    const double c = std::cos(0.5), s = std::sin(0.5);
    struct Case {
        double dx, dy;
        bool magnified;
        Sampling expected;
    };
    for (const Case k : {
             Case{1, 0, false, Sampling::nearest},          // scale 1
             Case{0, -1, false, Sampling::nearest},         // scale 1, quarter turn
             Case{-1, 0, false, Sampling::nearest},         // half turn
             Case{c, s, false, Sampling::bilinear},         // scale 1, turned
             Case{0.5, 0, false, Sampling::bilinear},       // zoomed in
             Case{0.2, 0, true, Sampling::nearest},         // magnified
             Case{1.001, 0, false, Sampling::area},         // just below scale 1
             Case{3.9 * c, 3.9 * s, false, Sampling::area}, // fitted large canvas
         }) {
        EXPECT_EQ(shaders::samplingFor(k.dx, k.dy, k.magnified), k.expected) << k.dx << "," << k.dy;
    }
}

TEST(CanvasSampling, PixelCentresHitTexelsExactly) {
    HostTexture t(4, 2);
    for (int64_t y = 0; y < 2; ++y) {
        for (int64_t x = 0; x < 4; ++x) {
            t.set(x, y, {uint8_t(10 * x), uint8_t(100 + y), 7, 255});
        }
    }
    for (const Sampling s : {Sampling::nearest, Sampling::bilinear}) {
        const auto row1 = sample(t, 0.5, 1.5, 1, 0, 4, s);
        for (int x = 0; x < 4; ++x) {
            EXPECT_FLOAT_EQ(row1[4 * x] * 255, 10.0f * x) << int(s);
            EXPECT_FLOAT_EQ(row1[4 * x + 1] * 255, 101.0f) << int(s);
        }
    }
}

// At scale 1 every pixel takes the texel under its point, clamped to the edge,
// however far the span starts outside, and whichever the channel order.
TEST(CanvasSampling, NearestAtScaleOneTakesTheTexelUnderEachPixel) {
    for (const auto format : {MTLPixelFormat::rgba8Unorm, MTLPixelFormat::bgra8Unorm}) {
        HostTexture t(37, 5, format);
        for (size_t i = 0; i < t.bytes.size(); ++i) {
            t.bytes[i] = uint8_t(i * 37 % 251);
        }
        for (const double x : {0.5, -3.5, 10.25, 30.999, 1e-9, -1e-17, 2.0, -0.75, 36.5}) {
            for (const double y : {0.5, 4.9, -2.0, 7.5}) {
                const int64_t n = 45;
                const auto got = sample(t, x, y, 1, 0, n, Sampling::nearest);
                const auto row = std::clamp<int64_t>(int64_t(std::floor(y)), 0, 4);
                for (int64_t k = 0; k < n; ++k) {
                    const auto texel =
                        std::clamp<int64_t>(int64_t(std::floor(x + double(k))), 0, 36);
                    const uint8_t* p = &t.bytes[size_t((row * 37 + texel) * 4)];
                    const bool bgra = format == MTLPixelFormat::bgra8Unorm;
                    const float want[4] = {float(p[bgra ? 2 : 0]), float(p[1]),
                                           float(p[bgra ? 0 : 2]), float(p[3])};
                    for (int c = 0; c < 4; ++c) {
                        ASSERT_FLOAT_EQ(got[size_t(4 * k + c)] * 255, want[c])
                            << x << "," << y << " pixel " << k;
                    }
                }
            }
        }
    }
}

TEST(CanvasSampling, BilinearBlendsBetweenTexelCentresAndClampsAtEdges) {
    HostTexture t(2, 1);
    t.set(0, 0, {0, 0, 0, 255});
    t.set(1, 0, {200, 100, 40, 255});
    const auto v = sample(t, 1.0, 0.5, 0.25, 0, 4, Sampling::bilinear);
    EXPECT_FLOAT_EQ(v[0] * 255, 100.0f);  // halfway between the centres
    EXPECT_FLOAT_EQ(v[4] * 255, 150.0f);  // three quarters
    EXPECT_FLOAT_EQ(v[8] * 255, 200.0f);  // on the second centre
    EXPECT_FLOAT_EQ(v[12] * 255, 200.0f); // beyond it: the edge texel
    const auto outside = sample(t, -50, -50, 0, 0, 1, Sampling::bilinear);
    EXPECT_FLOAT_EQ(outside[0], 0.0f);
}

TEST(CanvasSampling, AreaAveragesEverythingThePixelCovers) {
    // A checkerboard of black and white: any 2x2 footprint averages to grey, where
    // point sampling would give black or white.
    HostTexture t(8, 8);
    for (int64_t y = 0; y < 8; ++y) {
        for (int64_t x = 0; x < 8; ++x) {
            const uint8_t v = (x + y) % 2 ? 255 : 0;
            t.set(x, y, {v, v, v, 255});
        }
    }
    const auto v = sample(t, 1.0, 1.0, 2, 0, 3, Sampling::area);
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(v[4 * k] * 255, 127.5f, 1e-3) << k;
        EXPECT_NEAR(v[4 * k + 3], 1.0f, 1e-6) << k;
    }
    // A footprint off the texel grid weighs partial texels by the part covered.
    HostTexture stripe(4, 1);
    stripe.set(0, 0, {0, 0, 0, 255});
    stripe.set(1, 0, {255, 0, 0, 255});
    stripe.set(2, 0, {255, 0, 0, 255});
    stripe.set(3, 0, {0, 0, 0, 255});
    const auto w = sample(stripe, 1.25, 0.5, 1.5, 0, 1, Sampling::area);
    EXPECT_NEAR(w[0] * 255, 255.0f * 1.0f / 1.5f, 1e-3); // [0.5, 2.0): half black, one red
}

TEST(CanvasSampling, WideFootprintsKeepAFlatColourFlat) {
    HostTexture t(64, 64);
    for (int64_t y = 0; y < 64; ++y) {
        for (int64_t x = 0; x < 64; ++x) {
            t.set(x, y, {90, 180, 30, 255});
        }
    }
    for (const double footprint : {1.5, 7.3, 40.0, 200.0}) {
        const auto v = sample(t, 20.3, 33.7, footprint * 0.6, footprint * 0.8, 2, Sampling::area);
        EXPECT_NEAR(v[0] * 255, 90.0f, 1e-2) << footprint;
        EXPECT_NEAR(v[1] * 255, 180.0f, 1e-2) << footprint;
        EXPECT_NEAR(v[6] * 255, 30.0f, 1e-2) << footprint;
    }
}

TEST(CanvasSampling, ChannelOrderFollowsTheTexturesFormat) {
    HostTexture rgba(1, 1), bgra(1, 1, MTLPixelFormat::bgra8Unorm);
    rgba.set(0, 0, {10, 20, 30, 40});
    bgra.set(0, 0, {30, 20, 10, 40});
    for (const Sampling s : {Sampling::nearest, Sampling::bilinear, Sampling::area}) {
        EXPECT_EQ(sample(rgba, 0.5, 0.5, 1.5, 0, 1, s), sample(bgra, 0.5, 0.5, 1.5, 0, 1, s));
    }
    HostTexture wide(1, 1, MTLPixelFormat::rgba32Float);
    const float f[4] = {0.25f, 0.5f, 0.75f, 1.0f};
    wide.bytes.resize(16);
    std::memcpy(wide.bytes.data(), f, 16);
    wide.contents = {wide.bytes.data(), 16, 1, 1, MTLPixelFormat::rgba32Float, 16};
    const auto v = sample(wide, 0.5, 0.5, 1, 0, 1, Sampling::nearest);
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(v[k], f[k], 1e-6) << k;
    }
}

TEST(CanvasSampling, NonFiniteCoordinatesStayInsideTheTexture) {
    HostTexture t(2, 2);
    t.set(1, 1, {255, 255, 255, 255});
    for (const Sampling s : {Sampling::nearest, Sampling::bilinear, Sampling::area}) {
        const auto v = sample(t, NAN, INFINITY, NAN, 0, 2, s);
        for (const float c : v) {
            EXPECT_TRUE(std::isfinite(c)) << int(s);
        }
    }
}

} // namespace

namespace {

TEST(CanvasSampling, LongTurnedSpansMatchTheBilinearFormula) {
    // The part of a long span inside the texture takes the fixed-point road, its ends
    // the clamping one; both must agree with the plain formula.
    HostTexture t(64, 64, MTLPixelFormat::bgra8Unorm);
    uint32_t seed = 3;
    for (auto& b : t.bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = uint8_t(seed >> 24);
    }
    // Enters the texture from the left and leaves it on the right.
    const double x = -2.2, y = 5.9, dx = 0.61, dy = 0.37;
    const int64_t n = 120;
    const auto v = sample(t, x, y, dx, dy, n, Sampling::bilinear);
    const auto texel = [&](int64_t i, int64_t j, int c) {
        const int stored[4] = {2, 1, 0, 3}; // BGRA
        i = std::clamp<int64_t>(i, 0, 63), j = std::clamp<int64_t>(j, 0, 63);
        return double(t.bytes[size_t((j * 64 + i) * 4 + stored[c])]);
    };
    int wrong = 0;
    for (int64_t k = 0; k < n; ++k) {
        const double fx = x + dx * double(k) - 0.5, fy = y + dy * double(k) - 0.5;
        const int64_t i = int64_t(std::floor(fx)), j = int64_t(std::floor(fy));
        const double tx = fx - double(i), ty = fy - double(j);
        for (int c = 0; c < 4; ++c) {
            const double top = texel(i, j, c) + (texel(i + 1, j, c) - texel(i, j, c)) * tx;
            const double bottom =
                texel(i, j + 1, c) + (texel(i + 1, j + 1, c) - texel(i, j + 1, c)) * tx;
            const double want = (top + (bottom - top) * ty) / 255.0;
            wrong += std::fabs(v[size_t(4 * k + c)] - want) > 1e-4 ? 1 : 0;
        }
    }
    EXPECT_EQ(wrong, 0);
}

} // namespace
