#include "SKTUtils/CGFloatExtensions.hpp"
#include "SKTUtils/IntExtensions.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <set>

using namespace velmora;

namespace {

constexpr double kPiValue = 3.141592653589793;

TEST(Scalars, ClampingWithBoundsInEitherOrder) {
    const struct {
        double value, bound1, bound2, expected;
        bool inside;
    } cases[] = {
        {12, 10, 0, 10, false}, {-1, 10, 0, 0, false}, {5, 0, 10, 5, true},
        {10, 10, 0, 10, true},  {0, 0, 10, 0, true},   {-3, -2, -5, -3, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(clamped(c.value, c.bound1, c.bound2), c.expected) << c.value;
        EXPECT_EQ(clamped(static_cast<int64_t>(c.value), static_cast<int64_t>(c.bound1),
                          static_cast<int64_t>(c.bound2)),
                  static_cast<int64_t>(c.expected));
        EXPECT_EQ(inRange(c.value, c.bound1, c.bound2), c.inside) << c.value;
        double v = c.value;
        EXPECT_EQ(clamp(v, c.bound1, c.bound2), c.expected);
        EXPECT_EQ(v, c.expected);
    }
    EXPECT_TRUE(std::isnan(clamped(std::nan(""), 0.0, 1.0)));
}

TEST(Scalars, IntegerRangeClamping) {
    const struct {
        int64_t value, lower, upper, halfOpen, closed;
    } cases[] = {
        {9, 0, 5, 4, 5}, {5, 0, 5, 4, 5}, {4, 0, 5, 4, 4}, {-3, 0, 5, 0, 0}, {2, 2, 2, 1, 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(clamped(c.value, Range<int64_t>(c.lower, c.upper)), c.halfOpen) << c.value;
        EXPECT_EQ(clamped(c.value, ClosedRange<int64_t>(c.lower, c.upper)), c.closed) << c.value;
        int64_t v = c.value;
        EXPECT_EQ(clamp(v, Range<int64_t>(c.lower, c.upper)), c.halfOpen);
        v = c.value;
        EXPECT_EQ(clamp(v, ClosedRange<int64_t>(c.lower, c.upper)), c.closed);
        EXPECT_EQ(v, c.closed);
    }
}

TEST(Scalars, SignsAndDegrees) {
    EXPECT_EQ(sign(-0.0), 1.0);
    EXPECT_EQ(sign(0.0), 1.0);
    EXPECT_EQ(sign(-1e-300), -1.0);
    EXPECT_EQ(sign(std::nan("")), -1.0);
    EXPECT_EQ(degreesToRadians(180), kPiValue);
    EXPECT_EQ(degreesToRadians(90), 90 * kPiValue / 180);
    EXPECT_DOUBLE_EQ(radiansToDegrees(kPiValue / 4), 45);
}

TEST(Scalars, ShortestAngle) {
    const struct {
        double a1, a2, expected;
    } cases[] = {
        {0, 3 * kPiValue / 2, -kPiValue / 2},
        {0, -3 * kPiValue / 2, kPiValue / 2},
        {0, kPiValue, kPiValue},
        {0, -kPiValue, kPiValue},
        {1, 1, 0},
        {0, 5 * kPiValue, kPiValue},
        {kPiValue / 2, -kPiValue / 2, kPiValue},
        {0.25, 0.5, 0.25},
    };
    for (const auto& c : cases) {
        const double d = shortestAngleBetween(c.a1, c.a2);
        EXPECT_NEAR(d, c.expected, 1e-12) << c.a1 << " -> " << c.a2;
        EXPECT_GT(d, -kPiValue);
        EXPECT_LE(d, kPiValue);
    }
}

TEST(Scalars, RandomDrawsStayInTheirRanges) {
    std::set<int64_t> seenClosed, seenHalfOpen, seenPair;
    std::set<double> signs;
    for (int i = 0; i < 400; ++i) {
        const double f = randomCGFloat();
        EXPECT_GE(f, 0.0);
        EXPECT_LE(f, 1.0);
        const double g = randomCGFloat(-2, -1);
        EXPECT_GE(g, -2.0);
        EXPECT_LE(g, -1.0);
        signs.insert(randomSign());
        seenClosed.insert(randomInt(ClosedRange<int64_t>(-1, 1)));
        seenHalfOpen.insert(randomInt(Range<int64_t>(5, 7)));
        seenPair.insert(randomInt(int64_t{10}, int64_t{11}));
        EXPECT_LT(randomInt(3), 3);
    }
    EXPECT_EQ(signs, (std::set<double>{-1.0, 1.0}));
    EXPECT_EQ(seenClosed, (std::set<int64_t>{-1, 0, 1}));
    EXPECT_EQ(seenHalfOpen, (std::set<int64_t>{5, 6}));
    EXPECT_EQ(seenPair, (std::set<int64_t>{10, 11}));
    EXPECT_EQ(randomInt(0), 0);
    EXPECT_EQ(randomInt(1), 0);
    const int64_t big = randomInt(int64_t{0xffffffff});
    EXPECT_GE(big, 0);
    EXPECT_LT(big, 0xffffffff);
}

using ScalarsDeathTest = ::testing::Test;

TEST_F(ScalarsDeathTest, SpansOutsideThirtyTwoBitsStop) {
    EXPECT_DEATH(randomInt(int64_t{0x100000000}), "Fatal error");
    EXPECT_DEATH(randomInt(int64_t{-1}), "Fatal error");
    EXPECT_DEATH(randomInt(int64_t{0}, int64_t{0xffffffff}), "Fatal error");
    EXPECT_DEATH(randomInt(Range<int64_t>(3, 3)), "Fatal error");
    EXPECT_DEATH(Range<int64_t>(4, 3), "Fatal error");
    EXPECT_DEATH(clamped(int64_t{0}, Range<int64_t>(std::numeric_limits<int64_t>::min(),
                                                    std::numeric_limits<int64_t>::min())),
                 "Fatal error");
}

} // namespace
