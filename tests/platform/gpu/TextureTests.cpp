#include "GPUTestSupport.hpp"
#include "gpu/cpu/PixelIO.hpp"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>

using namespace velmora;

namespace {

TEST(Texture, DescribesItselfAndCarriesALabel) {
    auto t = test::makeTexture(30, 20, MTLPixelFormat::bgra8Unorm, MTLStorageMode::managed,
                               MTLTextureUsage::shaderRead | MTLTextureUsage::renderTarget);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->textureType(), MTLTextureType::type2D);
    EXPECT_EQ(t->pixelFormat(), MTLPixelFormat::bgra8Unorm);
    EXPECT_EQ(t->width(), 30);
    EXPECT_EQ(t->height(), 20);
    EXPECT_EQ(t->depth(), 1);
    EXPECT_EQ(t->usage().rawValue, 5u);
    EXPECT_EQ(t->storageMode(), MTLStorageMode::managed);
    EXPECT_FALSE(t->label().has_value());
    t->setLabel("Stroke texture");
    EXPECT_EQ(t->label(), "Stroke texture");
    EXPECT_EQ(t->device(), test::device());
}

TEST(Texture, DeviceRefusesWhatItCannotMake) {
    auto d = MTLTextureDescriptor::texture2DDescriptor(MTLPixelFormat::rgba8Unorm, 4, 4);
    auto refused = [&](auto change) {
        auto copy = d;
        change(copy);
        return test::device()->newTexture(copy) == nullptr;
    };
    EXPECT_FALSE(refused([](auto&) {}));
    EXPECT_TRUE(refused([](auto& c) { c.pixelFormat = MTLPixelFormat::bc1_rgba; }));
    EXPECT_TRUE(refused([](auto& c) { c.width = 0; }));
    EXPECT_TRUE(refused([](auto& c) { c.height = 16385; }));
    EXPECT_TRUE(refused([](auto& c) { c.textureType = MTLTextureType::type3D; }));
    EXPECT_TRUE(refused([](auto& c) { c.mipmapLevelCount = 3; }));
}

TEST(Texture, LargeTexturesCostNothingUntilWritten) {
    const auto before = test::device()->currentAllocatedSize();
    auto t = test::makeTexture(8000, 8000, MTLPixelFormat::rgba32Float, MTLStorageMode::private_);
    EXPECT_EQ(t->allocatedSize(), 0u);
    const auto c = t->contents();
    EXPECT_EQ(c.row(7999)[8000 * 16 - 1], 0);
    EXPECT_LT(t->allocatedSize(), size_t(1) << 20);
    EXPECT_EQ(test::device()->currentAllocatedSize() - before, 8000u * 8000u * 16u);
    t.reset();
    EXPECT_EQ(test::device()->currentAllocatedSize(), before);
}

TEST(Texture, ReplaceAndGetRegionsWithStrides) {
    auto t = test::makeTexture(5, 4);
    test::writeAll(*t, std::vector<uint8_t>(80, 0));
    // Two rows of three pixels, with 4 bytes of padding a row.
    std::vector<uint8_t> in(2 * 16);
    for (size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<uint8_t>(i + 1);
    }
    t->replaceRegion(MTLRegionMake2D(2, 1, 3, 2), 0, in.data(), 16);
    std::vector<uint8_t> out(2 * 20, 0xee);
    t->getBytes(out.data(), 20, MTLRegionMake2D(1, 1, 4, 2), 0);
    for (int r = 0; r < 2; ++r) {
        EXPECT_EQ(std::vector<uint8_t>(out.begin() + r * 20, out.begin() + r * 20 + 4),
                  std::vector<uint8_t>(4, 0));
        EXPECT_EQ(std::memcmp(&out[r * 20 + 4], &in[r * 16], 12), 0);
        EXPECT_EQ(out[r * 20 + 16], 0xee);
    }
}

using TextureDeathTest = ::testing::Test;

TEST_F(TextureDeathTest, HostAccessOutsideTheRulesStopsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto priv = test::makeTexture(4, 4, MTLPixelFormat::rgba8Unorm, MTLStorageMode::private_);
    auto shared = test::makeTexture(4, 4);
    std::vector<uint8_t> bytes(4 * 4 * 4 * 2);
    EXPECT_DEATH(priv->getBytes(bytes.data(), 16, MTLRegionMake2D(0, 0, 4, 4), 0),
                 "shared or managed storage");
    EXPECT_DEATH(shared->replaceRegion(MTLRegionMake2D(1, 0, 4, 4), 0, bytes.data(), 16),
                 "region outside the texture");
    EXPECT_DEATH(shared->replaceRegion(MTLRegionMake2D(0, -1, 1, 1), 0, bytes.data(), 16),
                 "region outside the texture");
    EXPECT_DEATH(shared->getBytes(bytes.data(), 12, MTLRegionMake2D(0, 0, 4, 4), 0),
                 "bytes per row shorter");
    EXPECT_DEATH(shared->getBytes(bytes.data(), 16, MTLRegionMake2D(0, 0, 4, 4), 1),
                 "mipmap level");
}

TEST(PixelIO, FloatToUnorm8RoundsAndClamps) {
    const auto layout = *cpu::pixelLayout(MTLPixelFormat::rgba8Unorm);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float in[] = {0.0f, 0.6f / 255,   0.49f / 255, 1.0f,   -3.0f, 7.0f,
                        nan,  127.6f / 255, 0.2f,        0.998f, 1e30f, -0.0f};
    const uint8_t want[] = {0, 1, 0, 255, 0, 255, 0, 128, 51, 254, 255, 0};
    uint8_t out[12];
    cpu::storeRow(layout, in, out, 3);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(out[i], want[i]) << i;
    }
}

TEST(PixelIO, LongRowsRoundLikeSinglePixels) {
    // Long rows take the vectorised and streaming paths; odd lengths leave a tail.
    const auto layout = *cpu::pixelLayout(MTLPixelFormat::rgba8Unorm);
    const auto bgra = *cpu::pixelLayout(MTLPixelFormat::bgra8Unorm);
    for (const int64_t n : {3, 13, 64, 1023, 1030, 4099}) {
        std::vector<float> in(static_cast<size_t>(n) * 4);
        for (size_t i = 0; i < in.size(); ++i) {
            in[i] = static_cast<float>(i % 601) / 500.0f - 0.1f;
        }
        in[5] = std::numeric_limits<float>::quiet_NaN();
        std::vector<uint8_t> out(in.size());
        cpu::storeRow(layout, in.data(), out.data(), n);
        for (size_t i = 0; i < in.size(); ++i) {
            ASSERT_EQ(out[i], cpu::unorm8(in[i])) << n << " " << i;
        }
        cpu::storeRow(bgra, in.data(), out.data(), n);
        for (size_t i = 0; i < in.size(); ++i) {
            const size_t swapped = i % 4 == 3 ? i : i - i % 4 + 2 - i % 4;
            ASSERT_EQ(out[i], cpu::unorm8(in[swapped])) << n << " bgra " << i;
        }
    }
}

TEST(PixelIO, RowsRoundTripThroughEveryFormat) {
    const float in[] = {0.0f, 0.25f, 0.5f, 1.0f, 0.75f, 0.125f, 1.0f, 0.0f};
    for (auto format : {MTLPixelFormat::rgba8Unorm, MTLPixelFormat::bgra8Unorm,
                        MTLPixelFormat::rgba16Float, MTLPixelFormat::rgba32Float,
                        MTLPixelFormat::rgba16Unorm, MTLPixelFormat::rgba8Unorm_srgb}) {
        const auto layout = *cpu::pixelLayout(format);
        std::vector<uint8_t> stored(2 * layout.bytesPerPixel);
        float back[8];
        cpu::storeRow(layout, in, stored.data(), 2);
        cpu::loadRow(layout, stored.data(), back, 2);
        const float tolerance = layout.kind == cpu::PixelLayout::Kind::unorm8 ? 0.01f : 1e-4f;
        for (int i = 0; i < 8; ++i) {
            EXPECT_NEAR(back[i], in[i], tolerance) << static_cast<int>(format) << " " << i;
        }
    }
    // Formats without colour or alpha fill in 0 and 1.
    const auto r8 = *cpu::pixelLayout(MTLPixelFormat::r8Unorm);
    const uint8_t red[] = {51};
    float rgba[4];
    cpu::loadRow(r8, red, rgba, 1);
    EXPECT_FLOAT_EQ(rgba[0], 0.2f);
    EXPECT_EQ(rgba[1], 0.0f);
    EXPECT_EQ(rgba[3], 1.0f);
}

} // namespace
