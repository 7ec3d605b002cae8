#include "desktop/NSFont.hpp"

#include <QFontInfo>
#include <gtest/gtest.h>

using namespace velmora;

TEST(NSFontTest, MonospacedDigitFontKeepsNumbersOneWidthAtTheSizeInPoints) {
    for (const auto weight : {NSFontWeight::regular, NSFontWeight::bold}) {
        const QFont font = NSFont::monospacedDigitSystemFont(18, weight);
        EXPECT_TRUE(NSFont::hasEqualDigitAdvances(font));
        EXPECT_NEAR(QFontInfo(font).pixelSize(), 18, 1);
    }
    EXPECT_GT(NSFont::systemFontSize(), 0);
}
