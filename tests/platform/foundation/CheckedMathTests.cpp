#include "foundation/CheckedMath.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>

using namespace velmora;

namespace {
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
} // namespace

TEST(CheckedMath, ArithmeticWithinRange) {
    EXPECT_EQ(checked::add<int64_t>(kMax - 1, 1), kMax);
    EXPECT_EQ(checked::sub<int64_t>(kMin + 1, 1), kMin);
    EXPECT_EQ(checked::mul<int64_t>(-3, 7), -21);
    EXPECT_EQ(checked::div<int64_t>(-7, 2), -3);
}

TEST(CheckedMath, FloatConversionTruncatesTowardZero) {
    EXPECT_EQ(checked::toInteger<int64_t>(2.75), 2);
    EXPECT_EQ(checked::toInteger<int64_t>(-1.5), -1);
    EXPECT_EQ(checked::toInteger<int64_t>(-9223372036854775808.0), kMin);
}

TEST(CheckedMath, ExactConversionReportsFailure) {
    int64_t out = 0;
    EXPECT_TRUE(checked::toIntegerIfExact<int64_t>(42.0, out));
    EXPECT_EQ(out, 42);
    EXPECT_FALSE(checked::toIntegerIfExact<int64_t>(0.5, out));
    EXPECT_FALSE(checked::toIntegerIfExact<int64_t>(9223372036854775808.0, out));
    EXPECT_FALSE(checked::toIntegerIfExact<int64_t>(std::numeric_limits<double>::quiet_NaN(), out));
}

using CheckedMathDeathTest = ::testing::Test;

TEST_F(CheckedMathDeathTest, OverflowStopsTheProgram) {
    EXPECT_DEATH(checked::add<int64_t>(kMax, 1), "Fatal error: Arithmetic overflow");
    EXPECT_DEATH(checked::sub<int64_t>(kMin, 1), "Fatal error");
    EXPECT_DEATH(checked::mul<int64_t>(kMax, 2), "Fatal error");
    EXPECT_DEATH(checked::div<int64_t>(1, 0), "Fatal error: Division by zero");
    EXPECT_DEATH(checked::div<int64_t>(kMin, -1), "Fatal error");
}

TEST_F(CheckedMathDeathTest, BadFloatConversionStopsTheProgram) {
    EXPECT_DEATH(checked::toInteger<int64_t>(std::numeric_limits<double>::infinity()),
                 "Fatal error");
    EXPECT_DEATH(checked::toInteger<int64_t>(9223372036854775808.0), "Fatal error");
    EXPECT_DEATH(checked::toInteger<int32_t>(std::numeric_limits<double>::quiet_NaN()),
                 "Fatal error");
}

TEST_F(CheckedMathDeathTest, FatalErrorNamesFileAndLine) {
    EXPECT_DEATH(fatalError("Internal inconcistency"),
                 "CheckedMathTests.cpp:[0-9]+: Fatal error: Internal inconcistency");
}
