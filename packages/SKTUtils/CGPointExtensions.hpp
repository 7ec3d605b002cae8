#pragma once

// Component-wise arithmetic and the length family on CGPoint, the point read
// as a vector from the origin. Free functions, as for CGVector.

#include "SKTUtils/CGVectorExtensions.hpp"

namespace velmora {

inline CGPoint operator+(CGPoint a, CGPoint b) {
    return {a.x + b.x, a.y + b.y};
}
inline CGPoint operator-(CGPoint a, CGPoint b) {
    return {a.x - b.x, a.y - b.y};
}
inline CGPoint operator*(CGPoint a, CGPoint b) {
    return {a.x * b.x, a.y * b.y};
}
inline CGPoint operator/(CGPoint a, CGPoint b) {
    return {a.x / b.x, a.y / b.y};
}
inline CGPoint operator*(CGPoint a, CGFloat s) {
    return {a.x * s, a.y * s};
}
inline CGPoint operator/(CGPoint a, CGFloat s) {
    return {a.x / s, a.y / s};
}
inline CGPoint operator+(CGPoint a, CGVector v) {
    return {a.x + v.dx, a.y + v.dy};
}
inline CGPoint operator-(CGPoint a, CGVector v) {
    return {a.x - v.dx, a.y - v.dy};
}
inline CGPoint operator*(CGPoint a, CGVector v) {
    return {a.x * v.dx, a.y * v.dy};
}
inline CGPoint operator/(CGPoint a, CGVector v) {
    return {a.x / v.dx, a.y / v.dy};
}
inline CGPoint& operator+=(CGPoint& a, CGPoint b) {
    return a = a + b;
}
inline CGPoint& operator-=(CGPoint& a, CGPoint b) {
    return a = a - b;
}
inline CGPoint& operator*=(CGPoint& a, CGPoint b) {
    return a = a * b;
}
inline CGPoint& operator/=(CGPoint& a, CGPoint b) {
    return a = a / b;
}
inline CGPoint& operator*=(CGPoint& a, CGFloat s) {
    return a = a * s;
}
inline CGPoint& operator/=(CGPoint& a, CGFloat s) {
    return a = a / s;
}
inline CGPoint& operator+=(CGPoint& a, CGVector v) {
    return a = a + v;
}
inline CGPoint& operator-=(CGPoint& a, CGVector v) {
    return a = a - v;
}
inline CGPoint& operator*=(CGPoint& a, CGVector v) {
    return a = a * v;
}
inline CGPoint& operator/=(CGPoint& a, CGVector v) {
    return a = a / v;
}

inline CGPoint makeCGPoint(CGVector v) {
    return {v.dx, v.dy};
}
inline CGPoint makeCGPointWithAngle(CGFloat angle) {
    return {std::cos(angle), std::sin(angle)};
}

inline CGPoint offset(CGPoint& p, CGFloat dx, CGFloat dy) {
    p.x += dx;
    p.y += dy;
    return p;
}
inline CGFloat lengthSquared(CGPoint p) {
    return p.x * p.x + p.y * p.y;
}
inline CGFloat length(CGPoint p) {
    return std::sqrt(lengthSquared(p));
}
inline CGPoint normalized(CGPoint p) {
    const CGFloat l = length(p);
    return l > 0 ? p / l : CGPoint{0, 0};
}
inline CGPoint normalize(CGPoint& p) {
    return p = normalized(p);
}
inline CGFloat distanceTo(CGPoint p, CGPoint other) {
    return length(other - p);
}
inline CGFloat angle(CGPoint p) {
    return std::atan2(p.y, p.x);
}

inline CGPoint lerp(CGPoint start, CGPoint end, CGFloat t) {
    return start + (end - start) * t;
}

} // namespace velmora
