#include "Rendering/CanvasMipChain.hpp"
#include "gpu/MTLDevice.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

using namespace velmora;

namespace {

TEST(CanvasMipChain, LevelBringsTheFootprintClosestToOneTexel) {
    struct Case {
        double texelsPerPixel;
        int level;
    };
    for (const Case c : {Case{0.25, 0}, Case{1.0, 0}, Case{1.4, 0}, Case{1.5, 1}, Case{2.0, 1},
                         Case{3.9, 2}, Case{31.0, 5}, Case{NAN, 0}, Case{INFINITY, 0}}) {
        EXPECT_EQ(CanvasMipChain::levelFor(c.texelsPerPixel), c.level) << c.texelsPerPixel;
    }
}

TEST(CanvasMipChain, HalvingAveragesBlocksAndRepeatsAnOddEdge) {
    // 11 x 3: the vector part (four blocks at a time) and the odd last column and row.
    const int64_t w = 11, h = 3;
    std::vector<uint8_t> src(size_t(w * h * 4)), dst(size_t(6 * 2 * 4), 0xEE);
    for (size_t i = 0; i < src.size(); ++i) {
        src[i] = uint8_t((i * 37 + 11) % 256);
    }
    const MTLTextureContents from{src.data(), w * 4, w, h, MTLPixelFormat::rgba8Unorm, 4};
    const MTLTextureContents to{dst.data(), 6 * 4, 6, 2, MTLPixelFormat::rgba8Unorm, 4};
    CanvasMipChain::halve(from, to);
    int wrong = 0;
    for (int64_t y = 0; y < 2; ++y) {
        for (int64_t x = 0; x < 6; ++x) {
            const int64_t x0 = 2 * x, x1 = std::min<int64_t>(2 * x + 1, w - 1);
            const int64_t y0 = 2 * y, y1 = std::min<int64_t>(2 * y + 1, h - 1);
            for (int c = 0; c < 4; ++c) {
                const auto at = [&](int64_t i, int64_t j) {
                    return int(src[size_t((j * w + i) * 4 + c)]);
                };
                const int want = (at(x0, y0) + at(x1, y0) + at(x0, y1) + at(x1, y1) + 2) / 4;
                wrong += dst[size_t((y * 6 + x) * 4 + c)] != want ? 1 : 0;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(CanvasMipChain, QuarteringAveragesFourByFourBlocksAndRepeatsEdges) {
    // 22 x 7: five whole blocks and a ragged sixth column of blocks; the last block
    // row repeats the bottom source row.
    const int64_t w = 22, h = 7, tw = 6, th = 2;
    std::vector<uint8_t> src(size_t(w * h * 4)), dst(size_t(tw * th * 4), 0xEE);
    for (size_t i = 0; i < src.size(); ++i) {
        src[i] = uint8_t((i * 53 + 7) % 256);
    }
    const MTLTextureContents from{src.data(), w * 4, w, h, MTLPixelFormat::rgba8Unorm, 4};
    const MTLTextureContents to{dst.data(), tw * 4, tw, th, MTLPixelFormat::rgba8Unorm, 4};
    CanvasMipChain::quarter(from, to);
    int wrong = 0;
    for (int64_t y = 0; y < th; ++y) {
        for (int64_t x = 0; x < tw; ++x) {
            for (int c = 0; c < 4; ++c) {
                int sum = 0;
                for (int64_t j = 0; j < 4; ++j) {
                    for (int64_t i = 0; i < 4; ++i) {
                        const int64_t sx = std::min(4 * x + i, w - 1),
                                      sy = std::min(4 * y + j, h - 1);
                        sum += src[size_t((sy * w + sx) * 4 + c)];
                    }
                }
                wrong += dst[size_t((y * tw + x) * 4 + c)] != (sum + 8) / 16 ? 1 : 0;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(CanvasMipChain, EncodesLevelsOnlyForEightBitColour) {
    auto device = MTLCreateSystemDefaultDevice();
    device->setSynchronousCommandExecution(true);
    CanvasMipChain chain(device);
    auto make = [&](MTLPixelFormat format, int64_t w, int64_t h) {
        auto d = MTLTextureDescriptor::texture2DDescriptor(format, w, h);
        d.storageMode = MTLStorageMode::shared;
        return device->newTexture(d);
    };
    auto queue = device->newCommandQueue();
    auto buffer = queue->commandBuffer();
    auto source = make(MTLPixelFormat::rgba8Unorm, 20, 9);
    std::vector<uint8_t> grey(20 * 9 * 4, 200);
    source->replaceRegion(MTLRegionMake2D(0, 0, 20, 9), 0, grey.data(), 80);
    const auto level2 = chain.encodeLevel(source, 2, *buffer);
    EXPECT_EQ(chain.encodeLevel(make(MTLPixelFormat::rgba32Float, 8, 8), 1, *buffer), nullptr);
    EXPECT_EQ(chain.encodeLevel(make(MTLPixelFormat::rgba8Unorm, 2, 1), 3, *buffer), nullptr)
        << "a 2 x 1 texture halves only once";
    buffer->commit();
    buffer->waitUntilCompleted();
    ASSERT_NE(level2, nullptr);
    EXPECT_EQ(level2->width(), 5);
    EXPECT_EQ(level2->height(), 3);
    const auto contents = level2->contents();
    EXPECT_EQ(contents.row(2)[4 * 4], 200);
    device->setSynchronousCommandExecution(false);
}

class CanvasMipChainCache : public ::testing::Test {
protected:
    void SetUp() override { device->setSynchronousCommandExecution(true); }
    void TearDown() override { device->setSynchronousCommandExecution(false); }

    std::shared_ptr<MTLTexture> grey(uint8_t value) {
        auto d = MTLTextureDescriptor::texture2DDescriptor(MTLPixelFormat::rgba8Unorm, 8, 8);
        d.storageMode = MTLStorageMode::shared;
        d.usage = MTLTextureUsage::shaderReadWrite;
        auto t = device->newTexture(d);
        const std::vector<uint8_t> bytes(8 * 8 * 4, value);
        t->replaceRegion(MTLRegionMake2D(0, 0, 8, 8), 0, bytes.data(), 32);
        return t;
    }
    // The first channel of the level's first texel.
    uint8_t level(const std::shared_ptr<MTLTexture>& source, int n) {
        auto buffer = queue->commandBuffer();
        const auto made = chain.encodeLevel(source, n, *buffer);
        buffer->commit();
        buffer->waitUntilCompleted();
        return made->contentsForReading().data[0];
    }

    std::shared_ptr<MTLDevice> device = MTLCreateSystemDefaultDevice();
    std::shared_ptr<MTLCommandQueue> queue = device->newCommandQueue();
    CanvasMipChain chain{device};
};

TEST_F(CanvasMipChainCache, WritesByEveryPathReachTheLevels) {
    using Write = std::function<void(const std::shared_ptr<MTLTexture>&)>;
    const std::vector<std::pair<std::string, Write>> writes = {
        {"replaceRegion",
         [](const auto& t) {
             const std::vector<uint8_t> bytes(8 * 8 * 4, 40);
             t->replaceRegion(MTLRegionMake2D(0, 0, 8, 8), 0, bytes.data(), 32);
         }},
        {"host view",
         [](const auto& t) {
             const auto c = t->contents();
             for (int64_t y = 0; y < 8; ++y) {
                 std::fill(c.row(y), c.row(y) + 32, uint8_t(40));
             }
         }},
        {"blit copy",
         [this](const auto& t) {
             auto buffer = queue->commandBuffer();
             auto e = buffer->blitCommandEncoder();
             e->copyFromTexture(grey(40), t);
             e->endEncoding();
             buffer->commit();
             buffer->waitUntilCompleted();
         }},
        {"host command",
         [this](const auto& t) {
             auto buffer = queue->commandBuffer();
             buffer->encodeHostCommand("paint",
                                       [t] {
                                           const auto c = t->contents();
                                           for (int64_t y = 0; y < 8; ++y) {
                                               std::fill(c.row(y), c.row(y) + 32, uint8_t(40));
                                           }
                                       },
                                       {t});
             buffer->commit();
         }},
    };
    for (const int n : {1, 2, 3}) {
        for (const auto& [name, write] : writes) {
            auto source = grey(200);
            ASSERT_EQ(level(source, n), 200) << name;
            write(source);
            EXPECT_EQ(level(source, n), 40) << name << ", level " << n;
        }
    }
}

TEST_F(CanvasMipChainCache, UnchangedTextureKeepsItsLevelsAndAnotherGetsItsOwn) {
    auto a = grey(200), b = grey(30);
    ASSERT_EQ(level(a, 2), 200);
    // Bytes changed behind the count's back are not seen: the level was not remade.
    std::fill(a->contentsForReading().data, a->contentsForReading().data + 4, uint8_t(0));
    EXPECT_EQ(level(a, 2), 200);
    EXPECT_EQ(level(b, 2), 30);
    EXPECT_EQ(level(a, 1), 150) << "level 1 of a made now, from the changed corner";
    EXPECT_EQ(level(a, 2), 188) << "b's level 2 is not handed out for a";
}

// Writes that tell their region have the levels remade only there, with the
// texels of a full rebuild; a write that does not tell remakes everything.
TEST_F(CanvasMipChainCache, LevelsAreRemadeOnlyWhereTheTextureChanged) {
    const int64_t side = 37; // odd sides: edge texels repeat at every level
    auto make = [&] {
        auto d = MTLTextureDescriptor::texture2DDescriptor(MTLPixelFormat::rgba8Unorm, side, side);
        d.storageMode = MTLStorageMode::shared;
        auto t = device->newTexture(d);
        std::vector<uint8_t> bytes(size_t(side * side * 4));
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = uint8_t(i * 7 + i / 13);
        }
        t->replaceRegion(MTLRegionMake2D(0, 0, side, side), 0, bytes.data(), side * 4);
        return t;
    };
    auto levelBytes = [](const std::shared_ptr<MTLTexture>& t) {
        const auto c = t->contentsForReading();
        std::vector<uint8_t> out;
        for (int64_t y = 0; y < c.height; ++y) {
            out.insert(out.end(), c.row(y), c.row(y) + c.width * 4);
        }
        return out;
    };
    auto encode = [&](CanvasMipChain& c, const std::shared_ptr<MTLTexture>& t, int n) {
        auto buffer = queue->commandBuffer();
        auto made = c.encodeLevel(t, n, *buffer);
        buffer->commit();
        buffer->waitUntilCompleted();
        return made;
    };
    const MTLRegion regions[] = {MTLRegionMake2D(5, 9, 3, 2), MTLRegionMake2D(30, 33, 7, 4),
                                 MTLRegionMake2D(0, 0, 1, 1)};
    for (const int n : {1, 2, 3, 4}) {
        for (const MTLRegion& r : regions) {
            auto source = make();
            const auto level = encode(chain, source, n);
            // A texel far from the change, altered unseen: it stays, so the level
            // was not remade there.
            const int64_t farX = r.origin.x < side / 2 ? level->width() - 1 : 0;
            uint8_t* far = level->contentsForReading().row(level->height() - 1) + 4 * farX;
            const uint8_t farBefore = far[0];
            far[0] ^= 0x5A;
            const std::vector<uint8_t> paint(size_t(r.size.width * r.size.height * 4), 255);
            source->replaceRegion(r, 0, paint.data(), r.size.width * 4);
            encode(chain, source, n);
            EXPECT_EQ(far[0], uint8_t(farBefore ^ 0x5A)) << "level " << n;
            far[0] = farBefore;
            CanvasMipChain fresh(device);
            EXPECT_EQ(levelBytes(level), levelBytes(encode(fresh, source, n))) << "level " << n;

            // A host view that tells nothing: the whole level is made again.
            far[0] ^= 0x5A;
            source->contents().row(0)[0] = 1;
            encode(chain, source, n);
            CanvasMipChain again(device);
            EXPECT_EQ(levelBytes(level), levelBytes(encode(again, source, n))) << "level " << n;
        }
    }
}

} // namespace
