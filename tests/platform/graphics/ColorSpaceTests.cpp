#include "graphics/ColorManagement.hpp"
#include "graphics/PixelConversion.hpp"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace velmora;

TEST(ColorManagement, WorkingSpacesAreSharedSRGB) {
    const auto& space = ColorManagement::workingColorSpace();
    ASSERT_NE(space, nullptr);
    EXPECT_EQ(space, ColorManagement::workingColorSpace());
    EXPECT_EQ(space->name(), CGColorSpaceName::sRGB);
    EXPECT_EQ(space->model(), CGColorSpaceModel::rgb);

    const auto& ns = ColorManagement::workingNSColorSpace();
    ASSERT_NE(ns, nullptr);
    EXPECT_EQ(ns, ColorManagement::workingNSColorSpace());
    EXPECT_EQ(ns->cgColorSpace(), space);
    EXPECT_EQ(ns->colorSpaceModel(), NSColorSpaceModel::rgb);
    EXPECT_FALSE(ns->iccProfileData().empty());
}

TEST(ColorManagement, FirstUseFromManyThreadsGivesOneObject) {
    std::vector<const CGColorSpace*> seen(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&, i] { seen[i] = ColorManagement::workingColorSpace().get(); });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (auto* s : seen) {
        EXPECT_EQ(s, seen[0]);
    }
}

TEST(CGColorSpace, BuiltInSpaces) {
    struct Case {
        CGColorSpaceRef space;
        std::string_view name;
        CGColorSpaceModel model;
        size_t components;
        const char* description;
    };
    const Case cases[] = {
        {CGColorSpace::sRGB(), CGColorSpaceName::sRGB, CGColorSpaceModel::rgb, 3,
         "sRGB IEC61966-2.1"},
        {CGColorSpace::genericRGB(), CGColorSpaceName::genericRGB, CGColorSpaceModel::rgb, 3,
         "Generic RGB"},
        {CGColorSpace::displayP3(), CGColorSpaceName::displayP3, CGColorSpaceModel::rgb, 3,
         "Display P3"},
        {CGColorSpace::genericGray(), CGColorSpaceName::genericGrayGamma2_2,
         CGColorSpaceModel::monochrome, 1, "Generic Gray Gamma 2.2 Profile"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(c.space, nullptr);
        EXPECT_EQ(c.space, CGColorSpace::withName(c.name));
        EXPECT_EQ(c.space->model(), c.model);
        EXPECT_EQ(c.space->numberOfComponents(), c.components);
        EXPECT_EQ(c.space->profileDescription(), c.description);

        // Reading the profile bytes back finds the very same space.
        EXPECT_EQ(CGColorSpace::withICCData(c.space->iccData()), c.space);
    }
    EXPECT_NE(*CGColorSpace::sRGB(), *CGColorSpace::displayP3());
    EXPECT_EQ(CGColorSpace::withName("kCGColorSpaceNoSuchThing"), nullptr);
    EXPECT_EQ(CGColorSpace::sRGB()->description(),
              "(kCGColorSpaceICCBased; kCGColorSpaceModelRGB; sRGB IEC61966-2.1)");
}

TEST(CGColorSpace, ProfilesFromFilesAreSharedByContent) {
    auto bytes = CGColorSpace::displayP3()->iccData();
    bytes[25] ^= 1; // another creation date: the same space in other bytes
    const auto first = CGColorSpace::withICCData(bytes);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->name().empty());
    EXPECT_EQ(first->profileDescription(), "Display P3");
    EXPECT_NE(first, CGColorSpace::displayP3());
    EXPECT_EQ(CGColorSpace::withICCData(bytes), first);

    const uint8_t red[4] = {255, 0, 0, 255};
    uint8_t viaFile[4], viaBuiltIn[4];
    convertPixels(first.get(), PixelLayout::rgba8, red, *CGColorSpace::sRGB(), PixelLayout::rgba8,
                  viaFile, 1);
    convertPixels(CGColorSpace::displayP3().get(), PixelLayout::rgba8, red, *CGColorSpace::sRGB(),
                  PixelLayout::rgba8, viaBuiltIn, 1);
    EXPECT_TRUE(std::equal(viaFile, viaFile + 4, viaBuiltIn));
}

TEST(CGColorSpace, UnusableProfileBytesAreRefused) {
    const auto& good = CGColorSpace::sRGB()->iccData();
    std::vector<uint8_t> truncated(good.begin(), good.begin() + good.size() / 2);
    std::vector<uint8_t> badMagic = good;
    badMagic[36] = 'x'; // "acsp"
    std::vector<uint8_t> hugeSize = good;
    hugeSize[0] = 0x7F; // header claims ~2 GB
    std::vector<uint8_t> deviceLink = good;
    deviceLink[12] = 'l', deviceLink[13] = 'i', deviceLink[14] = 'n', deviceLink[15] = 'k';
    const std::vector<std::vector<uint8_t>> inputs = {
        {}, std::vector<uint8_t>(200, 0), truncated, badMagic, hugeSize, deviceLink};
    for (size_t i = 0; i < inputs.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(CGColorSpace::withICCData(inputs[i]), nullptr);
    }
}

namespace {

std::vector<uint8_t> everyByteRGBA() {
    std::vector<uint8_t> pixels(256 * 4);
    for (int i = 0; i < 256; ++i) {
        pixels[i * 4 + 0] = static_cast<uint8_t>(i);
        pixels[i * 4 + 1] = static_cast<uint8_t>(255 - i);
        pixels[i * 4 + 2] = static_cast<uint8_t>(i * 7);
        pixels[i * 4 + 3] = static_cast<uint8_t>(i * 13);
    }
    return pixels;
}

} // namespace

TEST(PixelConversion, SRGBToSRGBIsBitExact) {
    const auto source = everyByteRGBA();
    std::vector<uint8_t> out(source.size());
    // Also through a second object holding the same profile, as a file's tag would.
    const auto reread = CGColorSpace::withICCData(CGColorSpace::sRGB()->iccData());
    for (const CGColorSpace* from : {CGColorSpace::sRGB().get(), reread.get()}) {
        convertPixels(from, PixelLayout::rgba8, source.data(), *CGColorSpace::sRGB(),
                      PixelLayout::rgba8, out.data(), 256);
        EXPECT_EQ(out, source);
    }
}

TEST(PixelConversion, LayoutsOnly) {
    const uint16_t gray16[2] = {0, 0x8080};
    const uint16_t rgba16[4] = {65535, 257, 32768, 0};
    const uint8_t cmyk[4] = {255, 0, 0, 0};
    const uint8_t grayAlpha[2] = {9, 77};
    struct Case {
        PixelLayout layout;
        const void* src;
        size_t count;
        std::vector<uint8_t> expected;
    };
    const Case cases[] = {
        {PixelLayout::gray16, gray16, 2, {0, 0, 0, 255, 128, 128, 128, 255}},
        {PixelLayout::rgba16, rgba16, 1, {255, 1, 128, 0}},
        {PixelLayout::cmyk8, cmyk, 1, {0, 255, 255, 255}},
        {PixelLayout::grayAlpha8, grayAlpha, 1, {9, 9, 9, 77}},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> out(c.count * 4);
        convertPixels(nullptr, c.layout, c.src, *CGColorSpace::sRGB(), PixelLayout::rgba8,
                      out.data(), c.count);
        EXPECT_EQ(out, c.expected) << int(c.layout);
    }
}

TEST(PixelConversion, BetweenSpaces) {
    // sRGB red is well inside Display P3.
    const uint8_t red[4] = {255, 0, 0, 200};
    uint8_t p3[4] = {};
    convertPixels(CGColorSpace::sRGB().get(), PixelLayout::rgba8, red, *CGColorSpace::displayP3(),
                  PixelLayout::rgba8, p3, 1);
    EXPECT_NEAR(p3[0], 234, 1);
    EXPECT_NEAR(p3[1], 51, 1);
    EXPECT_NEAR(p3[2], 35, 1);
    EXPECT_EQ(p3[3], 200);

    // And back through 16 bits, within a step of rounding.
    const auto source = everyByteRGBA();
    std::vector<uint16_t> there(source.size());
    std::vector<uint8_t> back(source.size());
    convertPixels(CGColorSpace::sRGB().get(), PixelLayout::rgba8, source.data(),
                  *CGColorSpace::displayP3(), PixelLayout::rgba16, there.data(), 256);
    convertPixels(CGColorSpace::displayP3().get(), PixelLayout::rgba16, there.data(),
                  *CGColorSpace::sRGB(), PixelLayout::rgba8, back.data(), 256);
    for (size_t i = 0; i < source.size(); ++i) {
        ASSERT_NEAR(back[i], source[i], 1) << i;
    }

    // Grey 0.5 at gamma 2.2 is a neutral sRGB grey of about 0.504, opaque.
    const uint8_t gray[1] = {128};
    uint8_t rgba[4] = {};
    convertPixels(CGColorSpace::genericGray().get(), PixelLayout::gray8, gray,
                  *CGColorSpace::sRGB(), PixelLayout::rgba8, rgba, 1);
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(rgba[c], 129, 1) << c;
    }
    EXPECT_EQ(rgba[3], 255);
}

TEST(PixelConversion, ProfileOfAnotherModelIsIgnored) {
    const uint8_t rgb[3] = {10, 20, 30};
    uint8_t out[4] = {};
    convertPixels(CGColorSpace::genericGray().get(), PixelLayout::rgb8, rgb, *CGColorSpace::sRGB(),
                  PixelLayout::rgba8, out, 1);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{10, 20, 30, 255}));
}
