#include "graphics/CubicCurve.hpp"

#include <array>
#include <cmath>
#include <numbers>

namespace velmora {

namespace {

constexpr int kOrder = 24;

struct GaussLegendre {
    std::array<double, kOrder> nodes{};   // on -1...1
    std::array<double, kOrder> weights{}; // sum to 2
};

// Roots of the Legendre polynomial by Newton iteration from the Chebyshev guesses;
// computed once, accurate to the last bit or two.
GaussLegendre makeRule() {
    GaussLegendre rule;
    for (int i = 0; i < kOrder; ++i) {
        double x = std::cos(std::numbers::pi * (i + 0.75) / (kOrder + 0.5));
        double derivative = 0;
        for (int iteration = 0; iteration < 100; ++iteration) {
            double p0 = 1, p1 = x;
            for (int k = 2; k <= kOrder; ++k) {
                const double pk = ((2 * k - 1) * x * p1 - (k - 1) * p0) / k;
                p0 = p1;
                p1 = pk;
            }
            derivative = kOrder * (x * p1 - p0) / (x * x - 1);
            const double step = p1 / derivative;
            x -= step;
            if (std::fabs(step) < 1e-16) {
                break;
            }
        }
        rule.nodes[i] = x;
        rule.weights[i] = 2 / ((1 - x * x) * derivative * derivative);
    }
    return rule;
}

const GaussLegendre& rule() {
    static const GaussLegendre r = makeRule();
    return r;
}

} // namespace

CGPoint CubicCurve::compute(CGFloat t) const {
    const CGFloat s = 1 - t;
    const CGFloat a = s * s * s, b = 3 * s * s * t, c = 3 * s * t * t, d = t * t * t;
    return {a * p0.x + b * p1.x + c * p2.x + d * p3.x, a * p0.y + b * p1.y + c * p2.y + d * p3.y};
}

CGVector CubicCurve::derivative(CGFloat t) const {
    const CGFloat s = 1 - t;
    const CGFloat a = 3 * s * s, b = 6 * s * t, c = 3 * t * t;
    return {a * (p1.x - p0.x) + b * (p2.x - p1.x) + c * (p3.x - p2.x),
            a * (p1.y - p0.y) + b * (p2.y - p1.y) + c * (p3.y - p2.y)};
}

namespace {

double speedIntegral(const CubicCurve& curve, double t0, double t1) {
    const GaussLegendre& r = rule();
    const double half = (t1 - t0) / 2, mid = (t0 + t1) / 2;
    double sum = 0;
    for (int i = 0; i < kOrder; ++i) {
        const CGVector v = curve.derivative(mid + half * r.nodes[i]);
        sum += r.weights[i] * std::hypot(v.dx, v.dy);
    }
    return sum * half;
}

// The speed is smooth except near a cusp, where it has a kink; splitting there
// brings the rule back to full accuracy. Depth bounds the work for any input.
double adaptiveLength(const CubicCurve& curve, double t0, double t1, double whole, int depth) {
    const double mid = (t0 + t1) / 2;
    const double left = speedIntegral(curve, t0, mid);
    const double right = speedIntegral(curve, mid, t1);
    const double refined = left + right;
    if (depth == 0 || !std::isfinite(refined) ||
        std::fabs(refined - whole) <= 1e-12 * std::fmax(1.0, std::fabs(refined))) {
        return refined;
    }
    return adaptiveLength(curve, t0, mid, left, depth - 1) +
           adaptiveLength(curve, mid, t1, right, depth - 1);
}

} // namespace

CGFloat CubicCurve::length() const {
    return adaptiveLength(*this, 0, 1, speedIntegral(*this, 0, 1), 12);
}

} // namespace velmora
