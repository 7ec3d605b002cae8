#include "SKTUtils/CGPointExtensions.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace velmora;

namespace {

constexpr double kPiValue = 3.141592653589793;

TEST(VectorArithmetic, OperatorsAreComponentWise) {
    const CGVector v{6, -8};
    const CGVector w{2, 4};
    const CGPoint p{3, 9};
    const CGPoint q{-1, 3};
    const struct {
        const char* name;
        CGVector got;
        CGVector expected;
    } vectors[] = {
        {"v+w", v + w, {8, -4}},
        {"v-w", v - w, {4, -12}},
        {"v*w", v * w, {12, -32}},
        {"v/w", v / w, {3, -2}},
        {"v*2", v * 2.0, {12, -16}},
        {"v/2", v / 2.0, {3, -4}},
        {"size", makeCGVector(CGSize{5, 7}), {5, 7}},
        {"point", makeCGVector(p), {3, 9}},
    };
    for (const auto& c : vectors) {
        EXPECT_EQ(c.got, c.expected) << c.name;
    }
    const struct {
        const char* name;
        CGPoint got;
        CGPoint expected;
    } points[] = {
        {"p+q", p + q, {2, 12}},
        {"p-q", p - q, {4, 6}},
        {"p*q", p * q, {-3, 27}},
        {"p/q", p / q, {-3, 3}},
        {"p*2", p * 2.0, {6, 18}},
        {"p/3", p / 3.0, {1, 3}},
        {"p+w", p + w, {5, 13}},
        {"p-w", p - w, {1, 5}},
        {"p*w", p * w, {6, 36}},
        {"p/w", p / w, {1.5, 2.25}},
        {"vector", makeCGPoint(v), {6, -8}},
    };
    for (const auto& c : points) {
        EXPECT_EQ(c.got, c.expected) << c.name;
    }
    EXPECT_EQ(CGSize(10, 20) * w, CGSize(20, 80));
    EXPECT_EQ(CGSize(10, 20) / w, CGSize(5, 5));
}

TEST(VectorArithmetic, InPlaceFormsChangeTheLeftOperand) {
    CGVector v{1, 2};
    v += CGVector{1, 1};
    v -= CGVector{0, 2};
    v *= CGVector{3, 3};
    v /= CGVector{2, 1};
    v *= 2.0;
    v /= 4.0;
    EXPECT_EQ(v, (CGVector{1.5, 1.5}));
    CGPoint p{1, 2};
    p += CGPoint{1, 1};
    p += CGVector{1, 1};
    p -= CGVector{0, 1};
    p -= CGPoint{1, 0};
    p *= CGPoint{2, 2};
    p *= CGVector{1, 0.5};
    p /= CGVector{2, 1};
    p *= 3.0;
    p /= 3.0;
    p /= CGPoint{1, 2};
    EXPECT_EQ(p, (CGPoint{2, 1.5}));
    EXPECT_EQ(offset(p, 1, -1), (CGPoint{3, 0.5}));
    EXPECT_EQ(p, (CGPoint{3, 0.5}));
    CGVector w{1, 1};
    EXPECT_EQ(offset(w, -1, 2), (CGVector{0, 3}));
    EXPECT_EQ(w, (CGVector{0, 3}));
}

TEST(VectorArithmetic, LengthsAndNormalisation) {
    const struct {
        CGVector v;
        double length;
        CGVector unit;
    } cases[] = {
        {{0, 0}, 0, {0, 0}},
        {{3, 4}, 5, {0.6, 0.8}},
        {{-5, 0}, 5, {-1, 0}},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(length(c.v), c.length);
        EXPECT_DOUBLE_EQ(length(makeCGPoint(c.v)), c.length);
        EXPECT_DOUBLE_EQ(normalized(c.v).dx, c.unit.dx);
        EXPECT_DOUBLE_EQ(normalized(c.v).dy, c.unit.dy);
        EXPECT_EQ(makeCGVector(normalized(makeCGPoint(c.v))), normalized(c.v));
    }
    CGVector v{3, 4};
    EXPECT_EQ(normalize(v), (CGVector{0.6, 0.8}));
    EXPECT_EQ(v, (CGVector{0.6, 0.8}));
    EXPECT_EQ(lengthSquared(CGPoint{3, 4}), 25);
    const CGVector nan{std::numeric_limits<double>::quiet_NaN(), 1};
    EXPECT_EQ(normalized(nan), (CGVector{0, 0}));
    EXPECT_DOUBLE_EQ(distanceTo(CGPoint{1, 1}, CGPoint{4, 5}), 5);
    EXPECT_DOUBLE_EQ(distanceTo(CGVector{1, 1}, CGVector{-2, -3}), 5);
}

TEST(VectorArithmetic, AnglesAndInterpolation) {
    const CGVector up = makeCGVectorWithAngle(kPiValue / 2);
    EXPECT_NE(up.dx, 0.0) << "cos(π/2) is not exactly 0 in floating point";
    EXPECT_NEAR(up.dx, 6.1e-17, 1e-18);
    EXPECT_EQ(up.dy, 1.0);
    EXPECT_EQ(makeCGPointWithAngle(0), (CGPoint{1, 0}));
    EXPECT_DOUBLE_EQ(angle(CGVector{-1, 0}), kPiValue);
    EXPECT_DOUBLE_EQ(angle(CGPoint{0, -2}), -kPiValue / 2);
    EXPECT_EQ(lerp(CGVector{0, 10}, CGVector{10, 20}, 0.25), (CGVector{2.5, 12.5}));
    EXPECT_EQ(lerp(CGPoint{0, 0}, CGPoint{10, -10}, 1.5), (CGPoint{15, -15}));
    EXPECT_EQ(lerp(CGPoint{0, 0}, CGPoint{10, -10}, -1), (CGPoint{-10, 10}));
}

} // namespace
