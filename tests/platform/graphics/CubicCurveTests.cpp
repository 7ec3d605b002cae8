#include "graphics/CubicCurve.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>

using namespace velmora;

namespace {

double polylineLength(const CubicCurve& c, int segments) {
    double sum = 0;
    CGPoint last = c.compute(0);
    for (int i = 1; i <= segments; ++i) {
        const CGPoint p = c.compute(double(i) / segments);
        sum += std::hypot(p.x - last.x, p.y - last.y);
        last = p;
    }
    return sum;
}

} // namespace

TEST(CubicCurve, ComputeHitsEndPointsAndKnownPoints) {
    const CubicCurve c({0, 0}, {0, 4}, {4, 4}, {4, 0});
    EXPECT_EQ(c.compute(0), (CGPoint{0, 0}));
    EXPECT_EQ(c.compute(1), (CGPoint{4, 0}));
    EXPECT_EQ(c.compute(0.5), (CGPoint{2, 3}));
    const CGPoint quarter = c.compute(0.25);
    EXPECT_DOUBLE_EQ(quarter.x, 3 * 0.75 * 0.0625 * 4 + 0.015625 * 4);
    EXPECT_DOUBLE_EQ(quarter.y, (3 * 0.5625 * 0.25 + 3 * 0.75 * 0.0625) * 4);
}

TEST(CubicCurve, DerivativeMatchesFiniteDifference) {
    const CubicCurve c({1, -2}, {5, 7}, {-3, 2}, {8, 8});
    for (double t : {0.0, 0.1, 0.5, 0.77, 1.0}) {
        const double h = 1e-6;
        const CGPoint a = c.compute(t - h), b = c.compute(t + h);
        const CGVector d = c.derivative(t);
        EXPECT_NEAR(d.dx, (b.x - a.x) / (2 * h), 1e-5) << t;
        EXPECT_NEAR(d.dy, (b.y - a.y) / (2 * h), 1e-5) << t;
    }
}

TEST(CubicCurve, LengthOfStraightAndDegenerateCurves) {
    struct Case {
        CubicCurve curve;
        double length;
    };
    const Case cases[] = {
        {{{0, 0}, {3.5, 0}, {7, 0}, {10.5, 0}}, 10.5},
        {{{0, 0}, {0, 0}, {0, 0}, {0, 0}}, 0},
        {{{2, 2}, {2, 2}, {2, 2}, {2, 2}}, 0},
        // Control points bunched at the start: same segment, uneven speed.
        {{{0, 0}, {0, 0}, {0, 0}, {3, 4}}, 5},
        {{{-1, -1}, {0, 0}, {1, 1}, {2, 2}}, 3 * std::sqrt(2.0)},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(c.curve.length(), c.length, 1e-12 * std::fmax(1, c.length));
    }
}

TEST(CubicCurve, LengthMatchesFinePolylineIncludingCuspsAndLoops) {
    std::vector<CubicCurve> curves = {
        {{0, 0}, {1, 1}, {0, 1}, {1, 0}},      // cusp at t = 0.5
        {{0, 0}, {10, 10}, {-10, 10}, {0, 0}}, // closed loop
        {{0, 0}, {100, 0}, {-100, 0}, {1, 0}}, // doubles back on a line
        {{0, 0}, {0, 1000}, {1000, 1000}, {1000, 0}},
    };
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> coord(-50, 50);
    for (int i = 0; i < 20; ++i) {
        curves.push_back({{coord(rng), coord(rng)},
                          {coord(rng), coord(rng)},
                          {coord(rng), coord(rng)},
                          {coord(rng), coord(rng)}});
    }
    for (const CubicCurve& c : curves) {
        const double reference = polylineLength(c, 1 << 20);
        EXPECT_NEAR(c.length(), reference, 1e-7 * std::fmax(1, reference))
            << c.p0.x << "," << c.p0.y << " " << c.p3.x << "," << c.p3.y;
    }
}

TEST(CubicCurve, NonFiniteCurveHasNonFiniteLengthAndReturns) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(std::isnan(CubicCurve({0, 0}, {nan, 0}, {1, 1}, {2, 2}).length()));
    EXPECT_FALSE(std::isfinite(CubicCurve({0, 0}, {1, 0}, {1, 1}, {inf, 2}).length()));
}
