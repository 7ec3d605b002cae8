#include "Rendering/BrushCursor.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace velmora;

TEST(BrushCursor, SizesAndHotSpots) {
    struct Case {
        float size;
        double zoom;
        double maxSize;
        int points;
        double hotSpot;
    };
    const Case cases[] = {
        {20, 1, 1080, 24, 12},
        {10, 1.25, 1080, 17, 8.25},  // d = 16.5
        {1076, 1, 1080, 1080, 540},  // d equal to maxSize still gives rings
        {1, 0.01f, 1080, 5, 2.005f}, // hot spot from d = 4 + float(0.01)
    };
    for (const Case& c : cases) {
        const BrushCursor cursor = BrushCursor::make(c.size, c.zoom, c.maxSize);
        ASSERT_FALSE(cursor.crosshair) << c.size;
        EXPECT_EQ(cursor.imageSize, (CGSize{double(c.points), double(c.points)}));
        ASSERT_EQ(cursor.representations.size(), 2u);
        EXPECT_EQ(cursor.representations[0].pixelsWide(), c.points);
        EXPECT_EQ(cursor.representations[0].pixelsHigh(), c.points);
        EXPECT_EQ(cursor.representations[1].pixelsWide(), 2 * c.points);
        EXPECT_EQ(cursor.representations[1].pixelsHigh(), 2 * c.points);
        EXPECT_NEAR(cursor.hotSpot.x, c.hotSpot, 1e-6);
        EXPECT_EQ(cursor.hotSpot.x, cursor.hotSpot.y);
    }
}

TEST(BrushCursor, CrosshairAboveTheLimitOrForUnusableSizes) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        float size;
        double zoom;
        double maxSize;
    };
    const Case cases[] = {
        {1000, 2, 1080}, // 2004 points
        {1077, 1, 1080}, // just above
        {20, nan, 1080}, // NaN diameter
        {20, -1, 1080},  // nothing to draw
        {1e6f, 1, 1e9},  // bitmaps beyond any pointer
        {std::numeric_limits<float>::infinity(), 1, 1e9},
    };
    for (const Case& c : cases) {
        const BrushCursor cursor = BrushCursor::make(c.size, c.zoom, c.maxSize);
        EXPECT_TRUE(cursor.crosshair) << c.size << " " << c.zoom;
        EXPECT_TRUE(cursor.representations.empty());
    }
}

TEST(BrushCursor, BlackRingOutsideWhiteRingAtDoubleScale) {
    // d = 24: at scale 2 the black ring spans 1...3 pixels from the edge and the
    // white one 3...5, so across the middle row: clear, black, black, white,
    // white, clear up to the mirrored side.
    const BrushCursor cursor = BrushCursor::make(20, 1, 1080);
    const GrayAlphaBitmap& bitmap = cursor.representations[1];
    const int row = 24;
    struct Expected {
        int x;
        int alphaAtLeast;
        int alphaAtMost;
        int grayAtMost;
        int grayAtLeast;
    };
    const Expected expected[] = {
        {0, 0, 0, 0, 0},          {1, 250, 255, 5, 0},     {2, 250, 255, 5, 0},
        {3, 250, 255, 255, 250},  {4, 250, 255, 255, 250}, {5, 0, 5, 5, 0},
        {24, 0, 0, 0, 0},         {47, 0, 0, 0, 0},        {46, 250, 255, 5, 0},
        {43, 250, 255, 255, 250},
    };
    for (const Expected& e : expected) {
        const int x = e.x;
        EXPECT_GE(bitmap.alpha(x, row), e.alphaAtLeast) << x;
        EXPECT_LE(bitmap.alpha(x, row), e.alphaAtMost) << x;
        EXPECT_LE(bitmap.gray(x, row), e.grayAtMost) << x;
        EXPECT_GE(bitmap.gray(x, row), e.grayAtLeast) << x;
        // Symmetric: the same pixel down the middle column.
        EXPECT_EQ(bitmap.alpha(row, x), bitmap.alpha(x, row)) << x;
    }
}

TEST(BrushCursor, SingleScaleRingsAreAntiAliasedAndPremultiplied) {
    const BrushCursor cursor = BrushCursor::make(20, 1, 1080);
    const GrayAlphaBitmap& bitmap = cursor.representations[0];
    int partial = 0;
    for (int y = 0; y < bitmap.pixelsHigh(); ++y) {
        for (int x = 0; x < bitmap.pixelsWide(); ++x) {
            EXPECT_LE(bitmap.gray(x, y), bitmap.alpha(x, y))
                << "premultiplied at " << x << "," << y;
            partial += bitmap.alpha(x, y) > 20 && bitmap.alpha(x, y) < 235;
        }
    }
    EXPECT_GT(partial, 20) << "edges are smoothed";
    EXPECT_EQ(bitmap.alpha(12, 12), 0) << "the inside stays clear";
    EXPECT_EQ(bitmap.alpha(0, 0), 0) << "so do the corners";
}

TEST(BrushCursor, TinyCursorsDrawWhatFits) {
    // d = 4.5: at scale 1 the white ring's square has no side at all and the
    // black ring's is half a pixel.
    const BrushCursor cursor = BrushCursor::make(0.5f, 1, 1080);
    ASSERT_FALSE(cursor.crosshair);
    EXPECT_EQ(cursor.imageSize, (CGSize{5, 5}));
    int black = 0;
    for (const GrayAlphaBitmap& bitmap : cursor.representations) {
        for (int y = 0; y < bitmap.pixelsHigh(); ++y) {
            for (int x = 0; x < bitmap.pixelsWide(); ++x) {
                black += bitmap.alpha(x, y) > 0 && bitmap.gray(x, y) < bitmap.alpha(x, y) / 2;
            }
        }
    }
    EXPECT_GT(black, 0);
}

TEST(GrayAlphaBitmap, StrokesOverWhatIsThere) {
    GrayAlphaBitmap bitmap(16, 16);
    bitmap.strokeCircle({2, 2}, 12, 2, 1);
    EXPECT_EQ(bitmap.gray(2, 8), 255);
    EXPECT_EQ(bitmap.alpha(2, 8), 255);
    bitmap.strokeCircle({2, 2}, 12, 2, 0);
    EXPECT_EQ(bitmap.gray(2, 8), 0);
    EXPECT_EQ(bitmap.alpha(2, 8), 255);
    // Degenerate circles leave the bitmap alone.
    const GrayAlphaBitmap before = bitmap;
    bitmap.strokeCircle({8, 8}, 0, 1, 1);
    bitmap.strokeCircle({8, 8}, -3, 1, 1);
    bitmap.strokeCircle({8, 8}, std::numeric_limits<double>::quiet_NaN(), 1, 1);
    bitmap.strokeCircle({8, 8}, 4, 0, 1);
    EXPECT_EQ(bitmap, before);
    // Circles partly off the bitmap are clipped to it.
    GrayAlphaBitmap corner(16, 16);
    corner.strokeCircle({-8, -8}, 16, 2, 1);
    EXPECT_GT(corner.alpha(7, 0), 200);
    EXPECT_EQ(corner.alpha(15, 15), 0);
    corner.strokeCircle({-1000, -1000}, 5000, 3, 1);
    corner.strokeCircle({10, 10}, 30, 1, 1);
    EXPECT_GT(corner.alpha(13, 15), 100);
}
