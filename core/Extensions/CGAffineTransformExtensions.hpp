#pragma once

// Transform operations of the canvas view. Like the platform's own, each new
// operation applies to a point before the transform it is added to.

#include "graphics/CGGeometry.hpp"

namespace velmora {

// (√(a² + c²), √(b² + d²)): the x factor pairs a with c, the y factor b with d.
CGVector scaling(const CGAffineTransform& t);
CGFloat rotationInDegrees(const CGAffineTransform& t);
inline CGVector translation(const CGAffineTransform& t) {
    return {t.tx, t.ty};
}

inline CGAffineTransform translatedBy(const CGAffineTransform& t, CGVector v) {
    return t.translatedBy(v.dx, v.dy);
}
// Scales by `s` about `p`, then applies `t`.
CGAffineTransform scaledBy(const CGAffineTransform& t, CGFloat s, CGPoint around);
// Rotates by `degrees` about `p`, then applies `t`.
CGAffineTransform rotated(const CGAffineTransform& t, CGFloat degrees, CGPoint around);
// With the flag, `v` is taken through the transform's linear part and divided
// by the squared scale on each axis (y reversed), so a drag moves the view by
// the same amount at any zoom. An axis scaled to nothing cannot move and
// contributes no translation.
CGAffineTransform translatedBy(const CGAffineTransform& t, CGVector v,
                               bool rotationAndScalingAgnostic);

} // namespace velmora
