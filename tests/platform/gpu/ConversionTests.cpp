#include "GPUTestSupport.hpp"
#include "gpu/MPSImageConversion.hpp"
#include "gpu/MTKTextureLoader.hpp"
#include "gpu/cpu/PixelIO.hpp"
#include "graphics/ColorManagement.hpp"

#include <array>
#include <cstring>
#include <gtest/gtest.h>

using namespace velmora;

namespace {

class ConversionTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::device()->setSynchronousCommandExecution(true);
        queue = test::device()->newCommandQueue();
    }
    void TearDown() override { test::device()->setSynchronousCommandExecution(false); }

    std::shared_ptr<MTLTexture> floatTexture(int64_t w, int64_t h,
                                             const std::vector<float>& values) {
        auto t = test::makeTexture(w, h, MTLPixelFormat::rgba32Float);
        t->replaceRegion(MTLRegionMake2D(0, 0, w, h), 0, values.data(), w * 16);
        return t;
    }

    void run(const MPSImageConversion& conversion, const std::shared_ptr<MTLTexture>& from,
             const std::shared_ptr<MTLTexture>& to) {
        auto cb = queue->commandBuffer();
        conversion.encode(*cb, from, to);
        cb->commit();
        EXPECT_EQ(cb->status(), MTLCommandBufferStatus::completed);
    }

    std::shared_ptr<MTLCommandQueue> queue;
};

TEST_F(ConversionTest, OffsetAndClipPickTheSourceRegion) {
    // Pixel (x, y) of the source holds (x / 10, y / 10, 0.5, 1).
    std::vector<float> values;
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 6; ++x) {
            values.insert(values.end(), {x / 10.0f, y / 10.0f, 0.5f, 1.0f});
        }
    }
    auto source = floatTexture(6, 5, values);
    auto destination = test::makeTexture(4, 3);
    test::writeAll(*destination, std::vector<uint8_t>(48, 7));
    MPSImageConversion conversion(test::device(), MPSAlphaType::nonPremultiplied,
                                  MPSAlphaType::nonPremultiplied, std::nullopt, std::nullopt);
    conversion.setLabel("Convert pixel format");
    conversion.setOffset({3, 1, 0});
    conversion.setClipRect(MTLRegionMake2D(0, 0, 4, 2));
    auto cb = queue->commandBuffer();
    conversion.encode(*cb, source, destination);
    EXPECT_EQ(cb->debugTrace().at(0).label, "Convert pixel format");
    cb->commit();
    const auto out = test::readAll(*destination);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            const uint8_t* p = &out[(y * 4 + x) * 4];
            std::array<uint8_t, 4> want{7, 7, 7, 7}; // outside the clip rectangle
            if (y < 2) {
                // Source column 6 lies beyond the source and reads as zero.
                want = x + 3 < 6 ? std::array<uint8_t, 4>{cpu::unorm8((x + 3) / 10.0f),
                                                          cpu::unorm8((y + 1) / 10.0f), 128, 255}
                                 : std::array<uint8_t, 4>{0, 0, 0, 0};
            }
            EXPECT_EQ((std::array<uint8_t, 4>{p[0], p[1], p[2], p[3]}), want) << x << "," << y;
        }
    }
}

TEST_F(ConversionTest, AlphaHandlingTable) {
    struct Case {
        MPSAlphaType from, to;
        std::array<float, 4> in;
        std::array<uint8_t, 4> want;
    };
    const Case cases[] = {
        {MPSAlphaType::nonPremultiplied,
         MPSAlphaType::nonPremultiplied,
         {1, 0.5f, 0, 0.5f},
         {255, 128, 0, 128}},
        {MPSAlphaType::nonPremultiplied,
         MPSAlphaType::premultiplied,
         {1, 0.5f, 0, 0.5f},
         {128, 64, 0, 128}},
        {MPSAlphaType::premultiplied,
         MPSAlphaType::nonPremultiplied,
         {0.25f, 0.5f, 0, 0.5f},
         {128, 255, 0, 128}},
        {MPSAlphaType::premultiplied,
         MPSAlphaType::nonPremultiplied,
         {0.25f, 0.5f, 0, 0},
         {0, 0, 0, 0}},
        {MPSAlphaType::alphaIsOne,
         MPSAlphaType::nonPremultiplied,
         {0.2f, 0.4f, 0.6f, 0},
         {51, 102, 153, 255}},
        {MPSAlphaType::nonPremultiplied,
         MPSAlphaType::alphaIsOne,
         {1, 1, 1, 0.5f},
         {255, 255, 255, 255}},
    };
    for (const auto& c : cases) {
        auto source = floatTexture(1, 1, {c.in.begin(), c.in.end()});
        auto destination = test::makeTexture(1, 1);
        run(MPSImageConversion(test::device(), c.from, c.to, std::nullopt, std::nullopt), source,
            destination);
        const auto out = test::readAll(*destination);
        EXPECT_EQ((std::array<uint8_t, 4>{out[0], out[1], out[2], out[3]}), c.want)
            << static_cast<int>(c.from) << "->" << static_cast<int>(c.to);
    }
    // A background shows through what the source leaves transparent.
    auto source = floatTexture(1, 1, {1, 0, 0, 0.25f});
    auto destination = test::makeTexture(1, 1);
    run(MPSImageConversion(test::device(), MPSAlphaType::nonPremultiplied, MPSAlphaType::alphaIsOne,
                           std::array<double, 4>{0, 0, 1, 1}, std::nullopt),
        source, destination);
    EXPECT_EQ(test::readAll(*destination), (std::vector<uint8_t>{64, 0, 191, 255}));
}

TEST_F(ConversionTest, ConvertsColourBetweenSpaces) {
    auto source = test::makeTexture(2, 1);
    test::writeAll(*source, {255, 0, 0, 200, 128, 128, 128, 255});
    auto destination = test::makeTexture(2, 1);
    run(MPSImageConversion(
            test::device(), MPSAlphaType::nonPremultiplied, MPSAlphaType::nonPremultiplied,
            std::nullopt,
            CGColorConversionInfoCreate(CGColorSpace::sRGB(), CGColorSpace::displayP3())),
        source, destination);
    const auto out = test::readAll(*destination);
    // sRGB red inside Display P3: about (0.918, 0.200, 0.139); grey stays grey.
    EXPECT_NEAR(out[0], 234, 2);
    EXPECT_NEAR(out[1], 51, 2);
    EXPECT_NEAR(out[2], 35, 3);
    EXPECT_EQ(out[3], 200);
    EXPECT_NEAR(out[4], 128, 1);
    EXPECT_EQ(out[4], out[5]);
    EXPECT_EQ(out[5], out[6]);
    // The same space on both sides leaves the values exact.
    run(MPSImageConversion(test::device(), MPSAlphaType::nonPremultiplied,
                           MPSAlphaType::nonPremultiplied, std::nullopt,
                           CGColorConversionInfoCreate(CGColorSpace::sRGB(), CGColorSpace::sRGB())),
        source, destination);
    EXPECT_EQ(test::readAll(*destination), test::readAll(*source));
}

// Rows top first: red, green, blue across; the second row grey, white, clear.
std::shared_ptr<NSBitmapImageRep> asymmetricBitmap() {
    auto b = NSBitmapImageRep::makeRGBA8(3, 2, ColorManagement::workingNSColorSpace());
    const uint8_t rows[2][12] = {{255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255},
                                 {128, 128, 128, 255, 255, 255, 255, 255, 0, 0, 0, 0}};
    std::memcpy(b->row(0), rows[0], 12);
    std::memcpy(b->row(1), rows[1], 12);
    return b;
}

TEST_F(ConversionTest, LoaderFlipsForABottomLeftOrigin) {
    const auto bitmap = asymmetricBitmap();
    MTKTextureLoader loader(test::device());
    MTKTextureLoaderOptions options;
    options.storageMode = MTLStorageMode::managed;
    options.origin = MTKTextureLoaderOrigin::bottomLeft;
    auto flipped = loader.newTexture(*bitmap, options);
    options.origin = MTKTextureLoaderOrigin::topLeft;
    options.srgb = true;
    auto kept = loader.newTexture(*bitmap, options);
    EXPECT_EQ(flipped->pixelFormat(), MTLPixelFormat::rgba8Unorm);
    EXPECT_EQ(kept->pixelFormat(), MTLPixelFormat::rgba8Unorm_srgb);
    EXPECT_EQ(flipped->usage(), MTLTextureUsage::shaderRead);
    const auto f = test::readAll(*flipped), k = test::readAll(*kept);
    for (int r = 0; r < 2; ++r) {
        EXPECT_EQ(std::memcmp(&f[r * 12], bitmap->row(1 - r), 12), 0) << r;
        EXPECT_EQ(std::memcmp(&k[r * 12], bitmap->row(r), 12), 0) << r;
    }
}

TEST_F(ConversionTest, LoaderReadsOtherBitmapLayoutsAsStraightRGBA) {
    MTKTextureLoader loader(test::device());
    MTKTextureLoaderOptions options;
    options.storageMode = MTLStorageMode::shared;
    auto premultiplied = NSBitmapImageRep::make(1, 1, 8, 4, true, false, "NSDeviceRGBColorSpace");
    ASSERT_NE(premultiplied, nullptr);
    const uint8_t px[4] = {64, 32, 0, 128};
    std::memcpy(premultiplied->row(0), px, 4);
    EXPECT_EQ(test::readAll(*loader.newTexture(*premultiplied, options)),
              (std::vector<uint8_t>{128, 64, 0, 128}));
    auto grey16 = NSBitmapImageRep::make(1, 1, 16, 1, false, false, "NSCalibratedWhiteColorSpace");
    ASSERT_NE(grey16, nullptr);
    const uint16_t g = 65535;
    std::memcpy(grey16->row(0), &g, 2);
    EXPECT_EQ(test::readAll(*loader.newTexture(*grey16, options)),
              (std::vector<uint8_t>{255, 255, 255, 255}));
    auto planar = NSBitmapImageRep::make(1, 1, 8, 4, true, true, "NSDeviceRGBColorSpace");
    ASSERT_NE(planar, nullptr);
    EXPECT_THROW(loader.newTexture(*planar, options), MTKTextureLoaderError);
}

} // namespace
