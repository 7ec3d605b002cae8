#pragma once

#include "graphics/CGGeometry.hpp"

namespace velmora {

// A cubic Bézier curve from its start point, two control points and end point.
struct CubicCurve {
    CGPoint p0;
    CGPoint p1;
    CGPoint p2;
    CGPoint p3;

    CubicCurve(CGPoint p0, CGPoint p1, CGPoint p2, CGPoint p3) : p0(p0), p1(p1), p2(p2), p3(p3) {}

    // The point at parameter t; t is not clamped, so 0...1 spans the curve.
    CGPoint compute(CGFloat t) const;
    // The first derivative with respect to t.
    CGVector derivative(CGFloat t) const;
    // Arc length over 0...1 by Gauss-Legendre quadrature, subdivided where the
    // speed varies too much for one rule to integrate it accurately.
    CGFloat length() const;

    friend bool operator==(const CubicCurve&, const CubicCurve&) = default;
};

} // namespace velmora
