#include "imaging/PixelKernels.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

namespace {

using namespace velmora::imaging;
using namespace velmora::imaging::kernels;

const std::byte* bytes(const std::vector<uint32_t>& v) {
    return reinterpret_cast<const std::byte*>(v.data());
}

// The float road: planes loaded premultiplied, blended, stored straight. Its
// planes and the results of both roads are kept from call to call: fresh
// megabytes for each of the thousands of rows cost more than the blending
// under a sanitizer.
std::vector<uint32_t>& floatRoadInto(std::vector<uint32_t>& out, BlendOp op,
                                     const std::vector<uint32_t>& fg,
                                     const std::vector<uint32_t>& bg, float fgScale = 1.0f,
                                     float bgScale = 1.0f) {
    const size_t n = fg.size();
    static std::vector<float> p;
    p.resize(8 * n);
    float* f[8];
    for (int c = 0; c < 8; ++c) {
        f[c] = p.data() + size_t(c) * n;
    }
    loadRow(bytes(fg), StorageFormat::rgba8, n, true, f[0], f[1], f[2], f[3]);
    loadRow(bytes(bg), StorageFormat::rgba8, n, true, f[4], f[5], f[6], f[7]);
    if (fgScale != 1.0f) {
        scale(TileBuffer{{f[0], f[1], f[2], f[3]}, int64_t(n), 1}, fgScale);
    }
    if (bgScale != 1.0f) {
        scale(TileBuffer{{f[4], f[5], f[6], f[7]}, int64_t(n), 1}, bgScale);
    }
    blend(op, TileBuffer{{f[0], f[1], f[2], f[3]}, int64_t(n), 1},
          TileBuffer{{f[4], f[5], f[6], f[7]}, int64_t(n), 1});
    out.resize(n);
    storeRow(f[4], f[5], f[6], f[7], n, StorageFormat::rgba8, StoredAlpha::unpremultiplied,
             reinterpret_cast<std::byte*>(out.data()));
    return out;
}

std::vector<uint32_t>& rowRoadInto(std::vector<uint32_t>& out, BlendOp op,
                                   const std::vector<uint32_t>& fg, const std::vector<uint32_t>& bg,
                                   float fgScale = 1.0f, float bgScale = 1.0f) {
    out.resize(fg.size());
    blendRowRgba8(op, {bytes(fg), true, fgScale}, {bytes(bg), true, bgScale}, fg.size(),
                  StoredAlpha::unpremultiplied, reinterpret_cast<std::byte*>(out.data()));
    return out;
}

std::vector<uint32_t> floatRoad(BlendOp op, const std::vector<uint32_t>& fg,
                                const std::vector<uint32_t>& bg, float fgScale = 1.0f,
                                float bgScale = 1.0f) {
    std::vector<uint32_t> out;
    return floatRoadInto(out, op, fg, bg, fgScale, bgScale);
}

std::vector<uint32_t> rowRoad(BlendOp op, const std::vector<uint32_t>& fg,
                              const std::vector<uint32_t>& bg, float fgScale = 1.0f,
                              float bgScale = 1.0f) {
    std::vector<uint32_t> out;
    return rowRoadInto(out, op, fg, bg, fgScale, bgScale);
}

constexpr BlendOp allOps[] = {BlendOp::sourceOver, BlendOp::sourceOut,  BlendOp::multiply,
                              BlendOp::overlay,    BlendOp::linearBurn, BlendOp::linearDodge};

uint32_t next(uint32_t& s) {
    s = s * 1664525u + 1013904223u;
    return s;
}

// The whole-number road of the row blend against the float road: every
// (foreground colour, foreground alpha, background alpha) in the red channel,
// the background colour and the other channels varied, in rows whose length
// also leaves a tail for the portable loop.
TEST(ExactBlend, RowRoadRoundsLikeTheFloatRoad) {
    for (const BlendOp op : allOps) {
        uint32_t s = 7;
        size_t mismatches = 0;
        std::vector<uint32_t> fg(65536 + 13), bg(fg.size()), expected, actual;
        for (uint32_t sc = 0; sc < 256; ++sc) {
            for (uint32_t i = 0; i < fg.size(); ++i) {
                const uint32_t sa = i & 0xFF, da = (i >> 8) & 0xFF;
                fg[i] = sc | (next(s) & 0xFFFF00) | sa << 24;
                bg[i] = (next(s) & 0xFFFFFF) | da << 24;
            }
            floatRoadInto(expected, op, fg, bg);
            rowRoadInto(actual, op, fg, bg);
            for (size_t i = 0; i < fg.size(); ++i) {
                if (actual[i] != expected[i] && mismatches++ < 5) {
                    ADD_FAILURE() << "op " << int(op) << std::hex << " fg " << fg[i] << " bg "
                                  << bg[i] << ": " << actual[i] << " vs " << expected[i];
                }
            }
        }
        EXPECT_EQ(mismatches, 0u) << "op " << int(op);
    }
}

// Results that sit exactly on a half, or within rounding of one, decide by the
// float road's rounding; shortcuts at alpha 0 and 255 keep their colours.
TEST(ExactBlend, HalvesAndExtremeAlphas) {
    std::vector<uint32_t> fg, bg;
    // sourceOver with sa = 128, da = 255: N/Dn = (255·128·sc + 127·255·dc)/(255·255),
    // a half for many (sc, dc) pairs.
    for (uint32_t sc = 0; sc < 256; ++sc) {
        for (uint32_t dc = 0; dc < 256; ++dc) {
            for (const uint32_t a : {0u, 1u, 128u, 254u, 255u}) {
                fg.push_back(sc | dc << 8 | (255 - sc) << 16 | a << 24);
                bg.push_back(dc | sc << 8 | (dc ^ 0x55) << 16 | (255 - a / 2) << 24);
                fg.push_back(sc | dc << 8 | sc << 16 | 128u << 24);
                bg.push_back(dc | dc << 8 | sc << 16 | a << 24);
            }
        }
    }
    for (const BlendOp op : allOps) {
        EXPECT_EQ(rowRoad(op, fg, bg), floatRoad(op, fg, bg)) << "op " << int(op);
    }
}

// Rows mixing lanes whose result is an input as stored (either alpha 0, a
// source at 255, both at 255) with every colour pair, so whole vectors of them
// meet each mode, and some lanes of another kind that spoil a vector.
TEST(ExactBlend, TransparentAndOpaqueLanesMatchTheFloatRoad) {
    uint32_t s = 5;
    std::vector<uint32_t> fg(65536 + 5), bg(fg.size());
    // (sa, da) classes; 256 stands for any alpha.
    const std::vector<std::vector<std::pair<uint32_t, uint32_t>>> mixes = {
        {{0, 256}, {256, 0}},
        {{0, 256}, {256, 0}, {255, 255}},
        {{0, 256}, {256, 0}, {255, 256}},
        {{0, 0}, {255, 255}, {255, 256}, {0, 255}, {200, 255}},
    };
    for (const auto& mix : mixes) {
        for (uint32_t i = 0; i < fg.size(); ++i) {
            const auto [sa, da] = mix[next(s) % mix.size()];
            const uint32_t sc = i & 0xFF, dc = (i >> 8) & 0xFF;
            fg[i] = sc | (next(s) & 0xFFFF00) | (sa == 256 ? next(s) >> 24 : sa) << 24;
            bg[i] = dc | (next(s) & 0xFFFF00) | (da == 256 ? next(s) >> 24 : da) << 24;
        }
        for (const BlendOp op : allOps) {
            EXPECT_EQ(rowRoad(op, fg, bg), floatRoad(op, fg, bg)) << "op " << int(op);
        }
    }
}

// Layers and groups under an opacity: every pair of alphas, either input
// scaled, the colours varied.
TEST(ExactBlend, ScaledInputsRoundLikeTheFloatRoad) {
    uint32_t s = 11;
    std::vector<uint32_t> fg(65536 + 7), bg(fg.size());
    for (uint32_t i = 0; i < fg.size(); ++i) {
        fg[i] = (next(s) & 0xFFFFFF) | (i & 0xFF) << 24;
        bg[i] = (next(s) & 0xFFFFFF) | ((i >> 8) & 0xFF) << 24;
    }
    for (const BlendOp op : allOps) {
        for (const float k : {0.5f, 0.3f, 1.0f / 3.0f, 0.999f, 0.01f, 0.0f}) {
            EXPECT_EQ(rowRoad(op, fg, bg, k, 1.0f), floatRoad(op, fg, bg, k, 1.0f))
                << "op " << int(op) << " foreground at " << k;
            EXPECT_EQ(rowRoad(op, fg, bg, 1.0f, k), floatRoad(op, fg, bg, 1.0f, k))
                << "op " << int(op) << " background at " << k;
        }
    }
}

// Every colour under every alpha.
TEST(ExactBlend, RestoringStraightPixelsMatchesALoadAndStore) {
    std::vector<uint32_t> straight(65536);
    for (uint32_t i = 0; i < straight.size(); ++i) {
        straight[i] = (((i & 0xFF) * 0x010101u) ^ 0x00A05Au) | (i >> 8) << 24;
    }
    const size_t n = straight.size();
    std::vector<float> planes(4 * n);
    float* f[4] = {planes.data(), planes.data() + n, planes.data() + 2 * n, planes.data() + 3 * n};
    loadRow(bytes(straight), StorageFormat::rgba8, n, true, f[0], f[1], f[2], f[3]);
    std::vector<uint32_t> expected(n), actual(n);
    storeRow(f[0], f[1], f[2], f[3], n, StorageFormat::rgba8, StoredAlpha::unpremultiplied,
             reinterpret_cast<std::byte*>(expected.data()));
    restoreStraightRgba8(bytes(straight), n, reinterpret_cast<std::byte*>(actual.data()));
    EXPECT_EQ(actual, expected);
}

} // namespace

// Blending a transparent layer over any stored pixel, in every mode of a
// layer (the eraser's inputs swapped), stores that pixel again, but for colour
// under zero alpha: the compositor leaves a block alone where a layer does not
// reach it. Source out unswapped would clear it, and is never skipped.
TEST(ExactBlend, NothingBlendedOverAPixelGivesItsBitsBack) {
    std::vector<uint32_t> pixels, zeros(65536, 0), expected;
    for (uint32_t a = 0; a < 256; ++a) {
        for (uint32_t c = 0; c < 256; ++c) {
            const uint32_t p = c | (255 - c) << 8 | ((c * 7 + a) & 255) << 16 | a << 24;
            pixels.push_back(p);
            expected.push_back(a == 0 ? 0 : p);
        }
    }
    for (const BlendOp op : allOps) {
        EXPECT_EQ(floatRoad(op, zeros, pixels), op == BlendOp::sourceOut ? zeros : expected)
            << int(op);
    }
    EXPECT_EQ(floatRoad(BlendOp::sourceOut, pixels, zeros), expected) << "swapped";
}
