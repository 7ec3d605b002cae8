#include "graphics/ColorManagement.hpp"
#include "graphics/NSBitmapImageRep.hpp"

#include <gtest/gtest.h>

using namespace velmora;

TEST(NSBitmapImageRep, FormsThatAreRefused) {
    struct Case {
        const char* what;
        int64_t w, h;
        int bps, spp;
        bool alpha, planar;
        std::string_view space;
        NSBitmapFormat format;
        int64_t bytesPerRow;
        int bitsPerPixel;
    };
    const auto rgb = NSColorSpaceNames::calibratedRGB;
    const auto straight = NSBitmapFormat::alphaNonpremultiplied;
    const Case cases[] = {
        {"zero width", 0, 4, 8, 4, true, false, rgb, straight, 0, 0},
        {"negative height", 4, -1, 8, 4, true, false, rgb, straight, 0, 0},
        {"12 bits", 4, 4, 12, 4, true, false, rgb, straight, 0, 0},
        {"samples do not fit RGB", 4, 4, 8, 2, true, false, rgb, straight, 0, 0},
        {"alpha flag without its sample", 4, 4, 8, 3, true, false, rgb, straight, 0, 0},
        {"row too short", 4, 4, 8, 4, true, false, rgb, straight, 15, 0},
        {"pixel too small", 4, 4, 8, 4, true, false, rgb, straight, 0, 24},
        {"unknown space name", 4, 4, 8, 4, true, false, "NSPatternColorSpace", straight, 0, 0},
        {"float of 16 bits", 4, 4, 16, 4, true, false, rgb, NSBitmapFormat::floatingPoint, 0, 0},
        {"absurd size", int64_t(1) << 40, 1, 8, 4, true, false, rgb, straight, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NSBitmapImageRep::make(c.w, c.h, c.bps, c.spp, c.alpha, c.planar, c.space,
                                         c.format, c.bytesPerRow, c.bitsPerPixel),
                  nullptr)
            << c.what;
    }
}

TEST(NSBitmapImageRep, FormOfAReadBackBitmap) {
    auto rep = NSBitmapImageRep::make(5, 3, 8, 4, true, false, NSColorSpaceNames::calibratedRGB,
                                      NSBitmapFormat::alphaNonpremultiplied, 5 * 4, 32);
    ASSERT_NE(rep, nullptr);
    EXPECT_EQ(rep->pixelsWide(), 5);
    EXPECT_EQ(rep->pixelsHigh(), 3);
    EXPECT_EQ(rep->bytesPerRow(), 20);
    EXPECT_EQ(rep->bitsPerPixel(), 32);
    EXPECT_EQ(rep->dataSize(), 60u);
    EXPECT_FALSE(rep->isPlanar());
    EXPECT_TRUE(rep->hasAlpha());
    EXPECT_FALSE(rep->isAlphaPremultiplied());
    EXPECT_EQ(rep->colorSpaceName(), "NSCalibratedRGBColorSpace");
    EXPECT_EQ(rep->colorSpace()->colorSpaceModel(), NSColorSpaceModel::rgb);
    EXPECT_EQ(rep->pixelLayout(), PixelLayout::rgba8);
    for (size_t i = 0; i < rep->dataSize(); ++i) {
        ASSERT_EQ(rep->bitmapData()[i], 0);
    }
    EXPECT_EQ(rep->description(), "NSBitmapImageRep Size={5, 3} ColorSpace=Generic RGB BPS=8 "
                                  "BPP=32 Pixels=5x3 Alpha=YES Planar=NO Format=2");

    // Padded rows and planar data take the room they ask for.
    auto padded = NSBitmapImageRep::make(3, 2, 8, 3, false, false, NSColorSpaceNames::deviceRGB,
                                         NSBitmapFormat::none, 16);
    ASSERT_NE(padded, nullptr);
    EXPECT_EQ(padded->row(1) - padded->row(0), 16);
    EXPECT_EQ(padded->pixelLayout(), PixelLayout::rgb8);
    auto planar = NSBitmapImageRep::make(3, 2, 16, 2, true, true, NSColorSpaceNames::deviceWhite);
    ASSERT_NE(planar, nullptr);
    EXPECT_EQ(planar->bytesPerRow(), 6);
    EXPECT_EQ(planar->dataSize(), 24u);
    EXPECT_FALSE(planar->pixelLayout().has_value());
}

TEST(NSBitmapImageRep, PixelSizeIsNotThePointSize) {
    auto rep = NSBitmapImageRep::makeRGBA8(40, 30, ColorManagement::workingNSColorSpace());
    ASSERT_NE(rep, nullptr);
    EXPECT_EQ(rep->size(), (CGSize{40, 30}));
    rep->setSize({20, 15}); // 144 dpi
    EXPECT_EQ(rep->pixelSize(), (MTLSize{40, 30, 1}));
    EXPECT_EQ(rep->size(), (CGSize{20, 15}));
}

TEST(NSBitmapImageRep, AsBitmapIsTheSameObject) {
    auto rep = NSBitmapImageRep::makeRGBA8(2, 2, ColorManagement::workingNSColorSpace());
    BitmapRepresentable& representable = *rep;
    EXPECT_EQ(representable.asBitmap(), rep);
}

TEST(NSBitmapImageRep, RetaggingKeepsBytesConvertingChangesThem) {
    auto rep = NSBitmapImageRep::makeRGBA8(2, 1, ColorManagement::workingNSColorSpace());
    const uint8_t pixels[8] = {255, 0, 0, 255, 10, 20, 30, 40};
    std::copy(pixels, pixels + 8, rep->bitmapData());

    auto p3 = rep->retagging(NSColorSpace::displayP3ColorSpace());
    ASSERT_NE(p3, nullptr);
    EXPECT_EQ(*p3->colorSpace(), *NSColorSpace::displayP3ColorSpace());
    EXPECT_TRUE(std::equal(pixels, pixels + 8, p3->bitmapData()));
    EXPECT_EQ(rep->retagging(NSColorSpace::genericGrayColorSpace()), nullptr);

    auto converted = rep->converting(NSColorSpace::displayP3ColorSpace());
    ASSERT_NE(converted, nullptr);
    EXPECT_NEAR(converted->bitmapData()[0], 234, 1);
    EXPECT_EQ(converted->bitmapData()[3], 255);
    EXPECT_EQ(converted->bitmapData()[7], 40);

    auto same = rep->converting(ColorManagement::workingNSColorSpace());
    ASSERT_NE(same, nullptr);
    EXPECT_TRUE(std::equal(pixels, pixels + 8, same->bitmapData()));
}

TEST(NSBitmapImageRep, ConvertingUnpremultiplies) {
    auto rep = NSBitmapImageRep::make(2, 1, 8, 4, true, false, NSColorSpaceNames::deviceRGB);
    ASSERT_NE(rep, nullptr);
    ASSERT_TRUE(rep->isAlphaPremultiplied());
    const uint8_t pixels[8] = {64, 32, 0, 128, 9, 9, 9, 0};
    std::copy(pixels, pixels + 8, rep->bitmapData());
    auto straight = rep->converting(NSColorSpace::sRGBColorSpace());
    ASSERT_NE(straight, nullptr);
    EXPECT_FALSE(straight->isAlphaPremultiplied());
    const std::vector<uint8_t> expected = {128, 64, 0, 128, 0, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(straight->bitmapData(), straight->bitmapData() + 8), expected);
}
