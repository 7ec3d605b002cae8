#pragma once

// Conversions from the integer pixel geometry, and rectangle and size
// operations. Swift initialisers of the platform records become `makeCG…`
// overloads; members become free functions of the same name.

#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "SKTUtils/CGFloatExtensions.hpp"
#include "foundation/Hasher.hpp"
#include "graphics/CGGeometry.hpp"

#include <cmath>
#include <functional>

namespace velmora {

inline CGPoint makeCGPoint(CGSize s) {
    return {s.width, s.height};
}
// z is dropped.
inline CGPoint makeCGPoint(const MTLOrigin& o) {
    return {static_cast<CGFloat>(o.x), static_cast<CGFloat>(o.y)};
}
// Each coordinate held between the rectangle's minimum and maximum, so a
// rectangle of negative extent works too.
inline CGPoint clamped(CGPoint p, const CGRect& rect) {
    return {clamped(p.x, rect.minX(), rect.maxX()), clamped(p.y, rect.minY(), rect.maxY())};
}

inline CGRect makeCGRect(CGSize s) {
    return {{0, 0}, s};
}
inline CGRect makeCGRect(CGFloat side) {
    return {{0, 0}, {side, side}};
}
// z and depth are dropped.
inline CGRect makeCGRect(const MTLRegion& r) {
    return {makeCGPoint(r.origin),
            {static_cast<CGFloat>(r.size.width), static_cast<CGFloat>(r.size.height)}};
}
// The origin stays; the rectangle is not centred again.
inline CGRect deflated(const CGRect& r, CGVector v) {
    return {r.origin, {r.size.width - v.dx, r.size.height - v.dy}};
}
inline CGRect operator/(const CGRect& r, CGFloat s) {
    const CGFloat reciprocal = 1 / s;
    return {{r.origin.x * reciprocal, r.origin.y * reciprocal},
            {r.size.width / s, r.size.height / s}};
}

// depth is dropped.
inline CGSize makeCGSize(const MTLSize& s) {
    return {static_cast<CGFloat>(s.width), static_cast<CGFloat>(s.height)};
}
inline CGSize deflated(CGSize s, CGVector v) {
    return {s.width - v.dx, s.height - v.dy};
}
inline bool contains(CGSize s, CGSize other) {
    return s.width >= other.width && s.height >= other.height;
}
inline CGSize ceiled(CGSize s) {
    return {std::ceil(s.width), std::ceil(s.height)};
}
// The larger dimension.
inline CGFloat max(CGSize s) {
    return s.width <= s.height ? s.height : s.width;
}
inline CGSize operator*(CGSize s, CGFloat k) {
    return {s.width * k, s.height * k};
}
inline CGSize operator/(CGSize s, CGFloat k) {
    return {s.width / k, s.height / k};
}

} // namespace velmora

template <> struct std::hash<velmora::CGSize> {
    size_t operator()(const velmora::CGSize& s) const noexcept {
        velmora::Hasher h;
        h.combine(s.width);
        h.combine(s.height);
        return h.finalize();
    }
};
