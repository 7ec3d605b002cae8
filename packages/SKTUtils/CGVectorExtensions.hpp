#pragma once

// Component-wise arithmetic and the length family on CGVector. The platform
// records take no members from here: Swift initialisers become `makeCGVector`
// overloads, members become free functions of the same name.

#include "graphics/CGGeometry.hpp"

#include <cmath>

namespace velmora {

inline CGVector operator+(CGVector a, CGVector b) {
    return {a.dx + b.dx, a.dy + b.dy};
}
inline CGVector operator-(CGVector a, CGVector b) {
    return {a.dx - b.dx, a.dy - b.dy};
}
inline CGVector operator*(CGVector a, CGVector b) {
    return {a.dx * b.dx, a.dy * b.dy};
}
inline CGVector operator/(CGVector a, CGVector b) {
    return {a.dx / b.dx, a.dy / b.dy};
}
inline CGVector operator*(CGVector a, CGFloat s) {
    return {a.dx * s, a.dy * s};
}
inline CGVector operator/(CGVector a, CGFloat s) {
    return {a.dx / s, a.dy / s};
}
inline CGVector& operator+=(CGVector& a, CGVector b) {
    return a = a + b;
}
inline CGVector& operator-=(CGVector& a, CGVector b) {
    return a = a - b;
}
inline CGVector& operator*=(CGVector& a, CGVector b) {
    return a = a * b;
}
inline CGVector& operator/=(CGVector& a, CGVector b) {
    return a = a / b;
}
inline CGVector& operator*=(CGVector& a, CGFloat s) {
    return a = a * s;
}
inline CGVector& operator/=(CGVector& a, CGFloat s) {
    return a = a / s;
}

inline CGVector makeCGVector(CGSize s) {
    return {s.width, s.height};
}
inline CGVector makeCGVector(CGPoint p) {
    return {p.x, p.y};
}
// The unit vector (cos angle, sin angle).
inline CGVector makeCGVectorWithAngle(CGFloat angle) {
    return {std::cos(angle), std::sin(angle)};
}

inline CGVector offset(CGVector& v, CGFloat dx, CGFloat dy) {
    v.dx += dx;
    v.dy += dy;
    return v;
}
inline CGFloat lengthSquared(CGVector v) {
    return v.dx * v.dx + v.dy * v.dy;
}
inline CGFloat length(CGVector v) {
    return std::sqrt(lengthSquared(v));
}
// A zero (or not-a-number) length gives (0, 0).
inline CGVector normalized(CGVector v) {
    const CGFloat l = length(v);
    return l > 0 ? v / l : CGVector{0, 0};
}
inline CGVector normalize(CGVector& v) {
    return v = normalized(v);
}
inline CGFloat distanceTo(CGVector v, CGVector other) {
    return length(other - v);
}
// atan2(dy, dx), in radians.
inline CGFloat angle(CGVector v) {
    return std::atan2(v.dy, v.dx);
}

// start + (end − start)·t; t is not limited to 0...1.
inline CGVector lerp(CGVector start, CGVector end, CGFloat t) {
    return start + (end - start) * t;
}

inline CGSize operator*(CGSize s, CGVector v) {
    return {s.width * v.dx, s.height * v.dy};
}
inline CGSize operator/(CGSize s, CGVector v) {
    return {s.width / v.dx, s.height / v.dy};
}

} // namespace velmora
