#include "MetalExtensions/MTLRegionExtensions.hpp"

#include <gtest/gtest.h>
#include <limits>
#include <sstream>
#include <unordered_set>

using namespace velmora;

namespace {

TEST(MTLText, Forms) {
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {description(MTLOrigin{3, 4, 0}), "(3, 4)"},
        {description(MTLOrigin{3, 4, 1}), "(3, 4, 1)"},
        {description(MTLOrigin{12, -3, 0}), "(12, -3)"},
        {description(MTLSize{8000, 8000, 1}), "8000 x 8000"},
        {description(MTLSize{2, 2, 2}), "2 x 2 x 2"},
        {description(MTLSize{640, 480, 0}), "640 x 480 x 0"},
        {description(MTLRegion{{1, 2, 0}, {3, 4, 1}}), "{(1, 2), 3 x 4}"},
        {description(MTLRegion{{0, 0, 5}, {256, 256, 2}}), "{(0, 0, 5), 256 x 256 x 2}"},
        {description(MTLOrigin{std::numeric_limits<int64_t>::min(), 0, 0}),
         "(-9223372036854775808, 0)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.text, c.expected);
    }
    std::ostringstream os;
    os << MTLRegion{{1, 2, 0}, {3, 4, 1}};
    EXPECT_EQ(os.str(), "{(1, 2), 3 x 4}");
}

TEST(MTLSize, ContainsComparesEveryAxis) {
    const struct {
        MTLSize outer, inner;
        bool contains;
    } cases[] = {
        {{10, 10, 1}, {10, 10, 1}, true}, {{10, 10, 1}, {5, 5, 1}, true},
        {{10, 10, 1}, {5, 5, 2}, false},  {{10, 10, 1}, {11, 1, 1}, false},
        {{10, 10, 1}, {1, 11, 1}, false}, {{8000, 8000, 1}, {8001, 8000, 1}, false},
        {{10, 10, 1}, {-5, -5, 0}, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(contains(c.outer, c.inner), c.contains)
            << description(c.outer) << " / " << description(c.inner);
    }
}

TEST(MTLSize, DivisionTruncatesEveryExtentTowardZero) {
    EXPECT_EQ((MTLSize{100, 50, 1} / 3), (MTLSize{33, 16, 0}));
    EXPECT_EQ((MTLSize{-7, 7, 1} / 2), (MTLSize{-3, 3, 0}));
    EXPECT_EQ((MTLSize{9, 9, 9} / -2), (MTLSize{-4, -4, -4}));
}

TEST(MTLSize, EmptinessAndArithmetic) {
    const struct {
        MTLSize size;
        bool empty;
    } cases[] = {{{1, 1, 1}, false}, {{0, 5, 1}, true},  {{5, 0, 1}, true},
                 {{5, 5, 0}, true},  {{-1, 5, 1}, true}, {{5, 5, 7}, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(isEmpty(c.size), c.empty) << description(c.size);
        EXPECT_EQ(isEmpty(MTLRegion{{4, 4, 4}, c.size}), c.empty);
    }
    EXPECT_EQ(surface(MTLSize{640, 480, 3}), 307200);
    EXPECT_EQ(inflated(MTLSize{10, 10, 1}, 2, 3), (MTLSize{12, 13, 1}));
    EXPECT_EQ(inflated(MTLSize{10, 10, 1}, MTLVector(1, 2, 3)), (MTLSize{11, 12, 4}));
    EXPECT_EQ(deflated(MTLSize{10, 10, 1}, 4), (MTLSize{6, 6, 1}));
    EXPECT_EQ(deflated(MTLSize{10, 10, 1}, MTLVector(1, 2, 1)), (MTLSize{9, 8, 0}));
    EXPECT_EQ(clamped(MTLSize{10, 3, 5}, MTLSize{4, 8, 1}), (MTLSize{4, 3, 1}));
    EXPECT_EQ(makeMTLSize(4, 5), (MTLSize{4, 5, 1}));
    EXPECT_EQ(makeMTLSize(CGSize{-2.9, 7.9}), (MTLSize{-2, 7, 1}));
}

TEST(MTLOrigin, VectorArithmetic) {
    const MTLOrigin a{5, -2, 1};
    const MTLOrigin b{2, 3, 1};
    EXPECT_EQ(a - b, MTLVector(3, -5, 0));
    EXPECT_EQ(b + (a - b), a);
    MTLOrigin moved = b;
    moved += MTLVector(1, 1, 1);
    EXPECT_EQ(moved, (MTLOrigin{3, 4, 2}));
    EXPECT_EQ(translated(a, MTLVector(1, 2, 3)), (MTLOrigin{6, 0, 4}));
    EXPECT_EQ(translated(a, 1, 2), (MTLOrigin{6, 0, 1}));
    EXPECT_EQ(makeMTLOrigin(MTLVector(1, 2, 3)), (MTLOrigin{1, 2, 3}));
    EXPECT_EQ(makeMTLOrigin(MTLSize{4, 5, 6}), (MTLOrigin{4, 5, 6}));
    EXPECT_EQ(makeMTLOrigin(CGPoint{-1.7, 2.7}), (MTLOrigin{-1, 2, 0}));
    EXPECT_EQ(makeMTLOrigin(7, 8), (MTLOrigin{7, 8, 0}));
    EXPECT_EQ(MTLOriginZero, (MTLOrigin{0, 0, 0}));
}

TEST(MTLOrigin, HashesFieldsInOrder) {
    std::unordered_set<MTLOrigin> origins{{1, 2, 3}, {3, 2, 1}, {1, 2, 3}};
    EXPECT_EQ(origins.size(), 2u);
    EXPECT_NE(std::hash<MTLOrigin>{}({1, 2, 0}), std::hash<MTLOrigin>{}({2, 1, 0}));
    EXPECT_NE(std::hash<MTLSize>{}({1, 2, 1}), std::hash<MTLSize>{}({2, 1, 1}));
    EXPECT_EQ(std::hash<MTLSize>{}({64, 32, 1}), std::hash<MTLSize>{}({64, 32, 1}));
}

TEST(MTLVector, Arithmetic) {
    const MTLVector v(3, -4, 0);
    EXPECT_EQ(-v, MTLVector(-3, 4, 0));
    EXPECT_EQ(v + MTLVector(1, 1, 1), MTLVector(4, -3, 1));
    MTLVector sum = v;
    sum += v;
    EXPECT_EQ(sum, 2 * v);
    EXPECT_EQ(v * 3, MTLVector(9, -12, 0));
    EXPECT_EQ(MTLVector(7, -7, 3) / 2, MTLVector(3, -3, 1));
    EXPECT_DOUBLE_EQ(v.length(), 5.0);
    EXPECT_DOUBLE_EQ(MTLVector(1, 2, 2).length(), 3.0);
    EXPECT_TRUE(MTLVector::zero().isNull());
    EXPECT_FALSE(MTLVector(0, 0, 1).isNull());
    EXPECT_EQ(MTLVector(MTLOrigin{1, 2, 3}), MTLVector(1, 2, 3));
    EXPECT_EQ(MTLVector(4, 5).dz, 0);
}

TEST(MTLVector, FromFloatingVectorKeepsTheResidual) {
    const struct {
        CGVector in;
        MTLVector whole;
        CGVector residual;
    } cases[] = {
        {{2.75, -1.5}, {2, -1, 0}, {0.75, -0.5}},
        {{-0.25, 0.5}, {0, 0, 0}, {-0.25, 0.5}},
        {{-3.0, 1e6}, {-3, 1000000, 0}, {0, 0}},
    };
    for (const auto& c : cases) {
        CGVector residual{99, 99};
        EXPECT_EQ(MTLVector(c.in, residual), c.whole);
        EXPECT_EQ(residual, c.residual);
    }
}

using MTLValuesDeathTest = ::testing::Test;

TEST_F(MTLValuesDeathTest, BadArithmeticStops) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    EXPECT_DEATH((MTLSize{4, 4, 1} / 0), "Fatal error: Division by zero");
    EXPECT_DEATH((MTLVector(4, 4) / 0), "Fatal error: Division by zero");
    EXPECT_DEATH((MTLOrigin{kMax, 0, 0} + MTLVector(1, 0)), "Fatal error: Arithmetic overflow");
    EXPECT_DEATH(MTLVector(kMax, 0).length(), "Fatal error: Arithmetic overflow");
    EXPECT_DEATH(surface(MTLSize{kMax, 2, 1}), "Fatal error: Arithmetic overflow");
    CGVector residual;
    EXPECT_DEATH(MTLVector(CGVector{std::numeric_limits<double>::quiet_NaN(), 0}, residual),
                 "Fatal error");
    EXPECT_DEATH(makeMTLOrigin(CGPoint{9.3e18, 0}), "Fatal error");
    EXPECT_DEATH(makeMTLSize(CGSize{0, -std::numeric_limits<double>::infinity()}), "Fatal error");
}

} // namespace
