#include "MetalExtensions/MTLCommandBufferExtensions.hpp"
#include "Rendering/DotDesc.hpp"
#include "Rendering/DrawDotsKernel.hpp"
#include "Rendering/MetalHelper.hpp"
#include "gpu/cpu/Workers.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

using namespace velmora;

namespace {

using RGBA = std::array<float, 4>;

// A float texture read back whole, row 0 first.
struct Pixels {
    int64_t width = 0, height = 0;
    std::vector<float> data;
    RGBA at(int64_t x, int64_t y) const {
        const float* p = &data[size_t((y * width + x) * 4)];
        return {p[0], p[1], p[2], p[3]};
    }
    float alpha(int64_t x, int64_t y) const { return at(x, y)[3]; }
};

std::shared_ptr<MTLTexture> floatTexture(int64_t w, int64_t h, RGBA fill) {
    auto t = MetalHelper::shared()->makeTexture({w, h, 1}, MTLTextureUsage::shaderReadWrite,
                                                MTLStorageMode::managed,
                                                MTLPixelFormat::rgba32Float, std::nullopt);
    std::vector<float> values(size_t(w * h * 4));
    for (size_t i = 0; i < values.size(); ++i) {
        values[i] = fill[i % 4];
    }
    t->replaceRegion(MTLRegionMake2D(0, 0, w, h), 0, values.data(), w * 16);
    return t;
}

Pixels read(const MTLTexture& t) {
    Pixels p{t.width(), t.height(), std::vector<float>(size_t(t.width() * t.height() * 4))};
    t.getBytes(p.data.data(), t.width() * 16, MTLRegionMake2D(0, 0, t.width(), t.height()), 0);
    return p;
}

DotDesc dot(float x, float y, float radius, float hardness, float opacity,
            RGBA color = {1, 0, 0, 1}) {
    DotDesc d;
    d.pos[0] = x;
    d.pos[1] = y;
    std::copy(color.begin(), color.end(), d.color);
    d.radius = radius;
    d.hardness = hardness;
    d.opacity = opacity;
    return d;
}

struct Stamp {
    std::shared_ptr<MTLTexture> stroke;
    std::shared_ptr<MTLTexture> scratch;
};

// One dispatch of the kernel: thread (0, 0) at `origin`, a grid of `grid` pixels.
void dispatch(const Stamp& s, const std::vector<DotDesc>& dots, std::array<int32_t, 2> origin,
              MTLSize grid) {
    registerDrawDotsKernel();
    const auto& helper = *MetalHelper::shared();
    MTLFunctionConstantValues constants;
    const auto n = static_cast<int32_t>(dots.size());
    constants.setConstantValue(&n, MTLDataType::int_, 0);
    const auto function = helper.device()->newDefaultLibrary()->newFunction("drawDots", constants);
    const auto pipeline = helper.device()->newComputePipelineState(function);
    const auto commandBuffer = helper.commandQueue()->commandBuffer();
    compute(*commandBuffer, "test", [&](MTLComputeCommandEncoder& encoder) {
        encoder.setComputePipelineState(pipeline);
        encoder.setTexture(s.stroke, 0);
        encoder.setTexture(s.scratch, 1);
        encoder.setBytes(dots.data(), dots.size() * sizeof(DotDesc), 2);
        encoder.setBytes(origin.data(), 8, 3);
        dispatchThreadgroupsForWorkingOn(encoder, grid);
    });
    commandBuffer->commit();
    commandBuffer->waitUntilCompleted();
    ASSERT_EQ(commandBuffer->status(), MTLCommandBufferStatus::completed);
}

// Stamps the dots onto a stroke of one value over the whole texture; the scratch
// result, which starts as the stroke outside what the kernel writes.
Pixels stampAll(const std::vector<DotDesc>& dots, int64_t w = 48, int64_t h = 48,
                RGBA stroke = {0, 0, 0, 0}) {
    const Stamp s{floatTexture(w, h, stroke), floatTexture(w, h, stroke)};
    dispatch(s, dots, {0, 0}, {w, h, 1});
    return read(*s.scratch);
}

float distance(int64_t x, int64_t y, float cx, float cy) {
    return std::hypot(float(x) + 0.5f - cx, float(y) + 0.5f - cy);
}

TEST(DrawDotsKernel, CoverageStopsAtHalfAPixelBeyondTheRadiusAndStaysInTheDotRegion) {
    for (const auto& [x, y, r, h] : std::vector<std::array<float, 4>>{{20.5f, 20.5f, 6, 1},
                                                                      {20.3f, 17.8f, 6.4f, 0.3f},
                                                                      {10, 30, 0.5f, 0},
                                                                      {24, 24, 12, 0.7f}}) {
        SCOPED_TRACE(testing::Message() << x << ", " << y << " r " << r << " h " << h);
        const auto p = stampAll({dot(x, y, r, h, 1)});
        const auto region = dotRegion(x, y, r);
        int covered = 0;
        for (int64_t py = 0; py < p.height; ++py) {
            for (int64_t px = 0; px < p.width; ++px) {
                const float a = p.alpha(px, py);
                const bool inRegion = px >= region.origin.x && py >= region.origin.y &&
                                      px < region.origin.x + region.size.width &&
                                      py < region.origin.y + region.size.height;
                if (distance(px, py, x, y) >= r + 0.5f || !inRegion) {
                    ASSERT_EQ(a, 0) << px << ", " << py;
                } else if (a > 0) {
                    ++covered;
                }
            }
        }
        EXPECT_GT(covered, 0);
    }
}

TEST(DrawDotsKernel, CoverageFallsWithDistanceAndRisesWithHardness) {
    const std::array<float, 5> hardnesses{0, 0.25f, 0.5f, 0.75f, 1};
    std::vector<Pixels> stamps;
    for (float h : hardnesses) {
        stamps.push_back(stampAll({dot(24, 24, 15.3f, h, 1)}));
    }
    for (size_t k = 0; k < hardnesses.size(); ++k) {
        SCOPED_TRACE(hardnesses[k]);
        // Along a row from the centre outwards, then along the diagonal.
        for (const auto& [dx, dy] : std::vector<std::array<int, 2>>{{1, 0}, {1, 1}, {0, -1}}) {
            float previous = 2;
            for (int i = 0; 24 + i * dx < 48 && 24 + i * dy >= 0; ++i) {
                const float a = stamps[k].alpha(24 + i * dx, 24 + i * dy);
                EXPECT_LE(a, previous) << i;
                previous = a;
            }
        }
        if (k > 0) {
            for (size_t i = 0; i < stamps[k].data.size(); i += 4) {
                ASSERT_GE(stamps[k].data[i + 3], stamps[k - 1].data[i + 3]) << i / 4;
            }
        }
    }
    // Hard: solid up to half a pixel inside the rim, a partly covered rim.
    const auto& hard = stamps.back();
    int rim = 0;
    for (int64_t py = 0; py < 48; ++py) {
        for (int64_t px = 0; px < 48; ++px) {
            const float d = distance(px, py, 24, 24);
            if (d <= 15.3f - 0.5f) {
                ASSERT_EQ(hard.alpha(px, py), 1);
            } else if (hard.alpha(px, py) > 0 && hard.alpha(px, py) < 1) {
                ++rim;
            }
        }
    }
    EXPECT_GT(rim, 20);
    // Soft: only the very centre is near full, half way out is well below.
    const auto& soft = stamps.front();
    EXPECT_GT(soft.alpha(24, 24), 0.9f);
    EXPECT_LT(soft.alpha(32, 24), 0.6f);
    EXPECT_GT(soft.alpha(32, 24), 0.2f);
}

TEST(DrawDotsKernel, OverlappingDotsKeepTheLargestAlphaAtAnySpacing) {
    for (float spacing : {0.25f, 1.0f, 2.5f, 7.0f}) {
        for (float hardness : {0.2f, 1.0f}) {
            SCOPED_TRACE(testing::Message() << "spacing " << spacing << " hardness " << hardness);
            std::vector<DotDesc> dots;
            for (float x = 6; x < 42 && dots.size() < 85; x += spacing) {
                dots.push_back(dot(x, 20 + 0.3f * x, 5.5f, hardness, 0.6f, {0.2f, 0.4f, 0.8f, 1}));
            }
            const auto together = stampAll(dots);
            std::vector<float> largest(together.data.size() / 4, 0);
            for (const auto& d : dots) {
                const auto alone = stampAll({d});
                for (size_t i = 0; i < largest.size(); ++i) {
                    largest[i] = std::max(largest[i], alone.data[4 * i + 3]);
                }
            }
            float top = 0;
            for (size_t i = 0; i < largest.size(); ++i) {
                ASSERT_EQ(together.data[4 * i + 3], largest[i]) << i;
                top = std::max(top, largest[i]);
                if (largest[i] > 0) {
                    // One colour stays exactly that colour.
                    ASSERT_EQ(together.data[4 * i], 0.2f);
                    ASSERT_EQ(together.data[4 * i + 1], 0.4f);
                    ASSERT_EQ(together.data[4 * i + 2], 0.8f);
                }
            }
            if (hardness == 1.0f) {
                EXPECT_EQ(top, 0.6f);
            }
            EXPECT_LE(top, 0.6f);
        }
    }
}

TEST(DrawDotsKernel, ADotThatRaisesTheAlphaMixesInItsShare) {
    struct Case {
        RGBA stroke;
        float opacity;
        RGBA expected;
    };
    // A blue dot over a half-transparent red stroke: lifting the alpha to 0.75 is
    // source-over with alpha 0.5; to 1, the blue replaces it; to 0.4, nothing changes.
    for (const auto& c : std::vector<Case>{
             {{1, 0, 0, 0.5f}, 0.75f, {1.0f / 3, 0, 2.0f / 3, 0.75f}},
             {{1, 0, 0, 0.5f}, 1.0f, {0, 0, 1, 1}},
             {{1, 0, 0, 0.5f}, 0.4f, {1, 0, 0, 0.5f}},
             {{0, 0, 0, 0}, 0.3f, {0, 0, 1, 0.3f}},
         }) {
        const auto p = stampAll({dot(8, 8, 6, 1, c.opacity, {0, 0, 1, 1})}, 16, 16, c.stroke);
        const auto got = p.at(8, 8);
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(got[i], c.expected[i], 1e-6f) << i << " opacity " << c.opacity;
        }
        // Pixels no dot reaches hold the stroke's value.
        EXPECT_EQ(p.at(15, 15), c.stroke);
    }
    // The colour's own alpha scales the dot's like its opacity does.
    const auto halfAlpha = stampAll({dot(8, 8, 6, 1, 0.8f, {0, 1, 0, 0.5f})}, 16, 16);
    EXPECT_FLOAT_EQ(halfAlpha.alpha(8, 8), 0.4f);
}

TEST(DrawDotsKernel, ErasingDotsMakeTheSameMaskInWhite) {
    std::vector<DotDesc> painting, erasing;
    for (int i = 0; i < 30; ++i) {
        const float x = 8 + 1.1f * float(i), y = 30 - 0.5f * float(i);
        painting.push_back(dot(x, y, 4.2f, 0.4f, 0.7f, {0.9f, 0.1f, 0.3f, 1}));
        erasing.push_back(dot(x, y, 4.2f, 0.4f, 0.7f, {1, 1, 1, 1}));
    }
    const auto paint = stampAll(painting), erase = stampAll(erasing);
    int masked = 0;
    for (size_t i = 0; i < paint.data.size(); i += 4) {
        ASSERT_EQ(erase.data[i + 3], paint.data[i + 3]);
        if (erase.data[i + 3] > 0) {
            ++masked;
            ASSERT_EQ(erase.data[i], 1);
            ASSERT_EQ(erase.data[i + 2], 1);
        }
    }
    EXPECT_GT(masked, 200);
}

TEST(DrawDotsKernel, WritesTheDotsBoundingRegionInsideTheTexturesAndTheGridOnly) {
    const RGBA strokeValue{0.25f, 0.5f, 0.75f, 0.125f};
    const RGBA sentinel{9, 9, 9, 9};
    // Regions from (-7, 5) to (18, 18) exclusive; the grid starts left of and below
    // the texture.
    const std::vector<DotDesc> dots{dot(-2.5f, 10, 5, 1, 1), dot(15, 15, 2, 1, 1)};
    const Stamp s{floatTexture(40, 40, strokeValue), floatTexture(40, 40, sentinel)};
    dispatch(s, dots, {-8, -8}, {56, 56, 1});
    const auto p = read(*s.scratch);
    for (int64_t y = 0; y < 40; ++y) {
        for (int64_t x = 0; x < 40; ++x) {
            const bool inBounds = x < 18 && y >= 5 && y < 18;
            ASSERT_EQ(p.at(x, y)[0] != 9, inBounds) << x << ", " << y;
        }
    }
    EXPECT_EQ(p.at(8, 8), strokeValue); // inside the bounds, reached by no dot
    EXPECT_EQ(p.alpha(0, 10), 1);
    EXPECT_EQ(p.alpha(15, 15), 1);

    // From an origin inside the texture: the same pixels.
    const Stamp t{floatTexture(40, 40, strokeValue), floatTexture(40, 40, sentinel)};
    dispatch(t, dots, {0, 5}, {18, 13, 1});
    EXPECT_EQ(read(*t.scratch).data, p.data);

    // A grid that ends early leaves the rest alone.
    const Stamp u{floatTexture(40, 40, strokeValue), floatTexture(40, 40, sentinel)};
    dispatch(u, dots, {0, 0}, {16, 16, 1});
    const auto q = read(*u.scratch);
    EXPECT_EQ(q.at(16, 15), sentinel);
    EXPECT_EQ(q.at(15, 16), sentinel);
    EXPECT_EQ(q.at(15, 15), p.at(15, 15));

    // Dots over every edge, partly outside: only pixels inside are touched, and
    // what they get does not depend on where the grid starts.
    const std::vector<DotDesc> edges{dot(-1, 20, 4, 1, 1), dot(39.5f, 20, 4, 0.5f, 1),
                                     dot(20, -1, 4, 1, 0.5f), dot(20, 40.2f, 4, 0, 1)};
    const Stamp a{floatTexture(40, 40, strokeValue), floatTexture(40, 40, sentinel)};
    dispatch(a, edges, {-5, -5}, {50, 50, 1});
    const Stamp b{floatTexture(40, 40, strokeValue), floatTexture(40, 40, sentinel)};
    dispatch(b, edges, {0, 0}, {40, 40, 1});
    const auto pa = read(*a.scratch);
    EXPECT_EQ(pa.data, read(*b.scratch).data);
    EXPECT_EQ(pa.alpha(0, 20), 1);
    EXPECT_EQ(pa.alpha(39, 20), 1);
    EXPECT_GT(pa.alpha(20, 39), 0.5f);
    EXPECT_LT(pa.alpha(20, 39), 1);
    EXPECT_EQ(pa.alpha(20, 0), 0.5f);
}

TEST(DrawDotsKernel, ResultsAreTheSameBitsForAnyNumberOfWorkers) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(0, 1);
    std::vector<DotDesc> dots;
    for (int i = 0; i < 85; ++i) {
        dots.push_back(dot(unit(random) * 64, unit(random) * 64, 0.5f + unit(random) * 12,
                           unit(random), unit(random),
                           {unit(random), unit(random), unit(random), 0.5f + unit(random) / 2}));
    }
    std::vector<std::vector<float>> results;
    for (int threads : {1, 8, 3}) {
        cpu::setWorkerThreadCount(threads);
        results.push_back(stampAll(dots, 64, 64, {0.1f, 0.2f, 0.3f, 0.2f}).data);
    }
    cpu::setWorkerThreadCount(0);
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(results[0], results[2]);
}

TEST(DotRegion, TruncatesTowardZeroAndSpansTwiceTheRoundedUpRadiusPlusOne) {
    struct Case {
        float x, y, r;
        MTLRegion expected;
    };
    for (const auto& c : std::vector<Case>{
             {10.7f, 20.2f, 2.3f, {{7, 17, 0}, {7, 7, 1}}},
             {-0.5f, 5.0f, 1.0f, {{-1, 4, 0}, {3, 3, 1}}},
             {0, 0, 0.5f, {{-1, -1, 0}, {3, 3, 1}}},
             {-3.9f, -0.2f, 4, {{-7, -4, 0}, {9, 9, 1}}},
             {NAN, 1, 1, {}},
             {1, 1, -1, {}},
             {1e30f, 0, 1, {{(int64_t(1) << 40) - 1, -1, 0}, {3, 3, 1}}},
         }) {
        EXPECT_EQ(dotRegion(c.x, c.y, c.r), c.expected) << c.x << ", " << c.y << " r " << c.r;
    }
    // Rounded as trunc and ceil round, at every scale up to the clamp and beyond it.
    std::mt19937 random(7);
    std::uniform_real_distribution<float> mantissa(-1, 1);
    std::uniform_int_distribution<int> exponent(-30, 50);
    const auto any = [&] { return std::ldexp(mantissa(random), exponent(random)); };
    constexpr float limit = 1099511627776.0f;
    const auto whole = [&](float v) { return int64_t(std::trunc(std::clamp(v, -limit, limit))); };
    for (int i = 0; i < 20000; ++i) {
        const float x = any(), y = any(), r = std::abs(any()) * float(i % 3);
        const int64_t rounded = int64_t(std::ceil(std::min(r, limit)));
        const MTLRegion expected{{whole(x) - rounded, whole(y) - rounded, 0},
                                 {2 * rounded + 1, 2 * rounded + 1, 1}};
        ASSERT_EQ(dotRegion(x, y, r), expected) << x << ", " << y << " r " << r;
    }
}

} // namespace
