#include "graphics/ColorManagement.hpp"
#include "graphics/NSColor.hpp"

#include <gtest/gtest.h>

using namespace velmora;

TEST(NSColor, NamedColoursInTheWorkingSpace) {
    struct Case {
        const char* name;
        NSColorRef color;
        double r, g, b, a;
    };
    const Case cases[] = {
        {"clear", NSColor::clearColor(), 0, 0, 0, 0},
        {"white", NSColor::whiteColor(), 1, 1, 1, 1},
        {"black", NSColor::blackColor(), 0, 0, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(c.color, nullptr);
        auto working = c.color->colorUsingColorSpace(ColorManagement::workingNSColorSpace());
        ASSERT_NE(working, nullptr);
        EXPECT_EQ(*working->colorSpace(), *ColorManagement::workingNSColorSpace());
        EXPECT_NEAR(working->redComponent(), c.r, 1e-3);
        EXPECT_NEAR(working->greenComponent(), c.g, 1e-3);
        EXPECT_NEAR(working->blueComponent(), c.b, 1e-3);
        EXPECT_EQ(working->alphaComponent(), c.a);
    }
    EXPECT_EQ(NSColor::clearColor(), NSColor::clearColor());
    EXPECT_EQ(NSColor::clearColor()->whiteComponent(), 0);

    const auto& cyan = NSColor::cyanColor();
    EXPECT_EQ(cyan->colorSpace()->colorSpaceModel(), NSColorSpaceModel::rgb);
    EXPECT_EQ(cyan->components(), (std::vector<CGFloat>{0, 1, 1, 1}));
    auto cyanWorking = cyan->colorUsingColorSpace(ColorManagement::workingNSColorSpace());
    ASSERT_NE(cyanWorking, nullptr);
    // Still a cyan: no red to speak of, strong green and blue.
    EXPECT_LT(cyanWorking->redComponent(), 0.1);
    EXPECT_GT(cyanWorking->greenComponent(), 0.9);
    EXPECT_GT(cyanWorking->blueComponent(), 0.9);
}

TEST(NSColor, ConversionKeepsSameSpaceColoursAndRoundTrips) {
    auto color = NSColor::colorWithSRGBRed(0.2, 0.4, 0.6, 0.5);
    ASSERT_NE(color, nullptr);
    // Same space: the very same object, untouched.
    EXPECT_EQ(color->colorUsingColorSpace(ColorManagement::workingNSColorSpace()), color);

    auto p3 = color->colorUsingColorSpace(NSColorSpace::displayP3ColorSpace());
    ASSERT_NE(p3, nullptr);
    EXPECT_NE(p3->redComponent(), 0.2);
    auto back = p3->colorUsingColorSpace(NSColorSpace::sRGBColorSpace());
    ASSERT_NE(back, nullptr);
    EXPECT_NEAR(back->redComponent(), 0.2, 1e-4);
    EXPECT_NEAR(back->greenComponent(), 0.4, 1e-4);
    EXPECT_NEAR(back->blueComponent(), 0.6, 1e-4);
    EXPECT_EQ(back->alphaComponent(), 0.5);

    auto gray = color->colorUsingColorSpace(NSColorSpace::genericGrayColorSpace());
    ASSERT_NE(gray, nullptr);
    EXPECT_EQ(gray->numberOfComponents(), 2u);
    EXPECT_GT(gray->whiteComponent(), 0.2);
    EXPECT_LT(gray->whiteComponent(), 0.6);
    EXPECT_EQ(color->colorUsingColorSpace(nullptr), nullptr);
}

TEST(NSColor, ComponentCountMustFitTheSpace) {
    EXPECT_EQ(NSColor::colorWithColorSpace(NSColorSpace::sRGBColorSpace(), {1, 0, 0}), nullptr);
    EXPECT_EQ(NSColor::colorWithColorSpace(NSColorSpace::genericGrayColorSpace(), {1, 0, 0}),
              nullptr);
    EXPECT_EQ(NSColor::colorWithColorSpace(nullptr, {1}), nullptr);
    EXPECT_NE(NSColor::colorWithColorSpace(NSColorSpace::genericGrayColorSpace(), {1, 1}), nullptr);
}

TEST(NSColor, EqualityAndDescription) {
    auto a = NSColor::colorWithSRGBRed(0.25, 0.5, 1, 1);
    auto b = NSColor::colorWithSRGBRed(0.25, 0.5, 1, 1);
    auto c = NSColor::colorWithDisplayP3Red(0.25, 0.5, 1, 1);
    EXPECT_EQ(*a, *b);
    EXPECT_FALSE(*a == *c);
    EXPECT_EQ(a->description(), "sRGB IEC61966-2.1 0.25 0.5 1 1");
}
