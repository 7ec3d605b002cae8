#include "Extensions/CGAffineTransformExtensions.hpp"

#include "SKTUtils/CGFloatExtensions.hpp"

#include <cmath>

namespace velmora {

CGVector scaling(const CGAffineTransform& t) {
    return {std::sqrt(t.a * t.a + t.c * t.c), std::sqrt(t.b * t.b + t.d * t.d)};
}

CGFloat rotationInDegrees(const CGAffineTransform& t) {
    return radiansToDegrees(std::atan2(t.b, t.a));
}

CGAffineTransform scaledBy(const CGAffineTransform& t, CGFloat s, CGPoint around) {
    return t.translatedBy(around.x, around.y).scaledBy(s, s).translatedBy(-around.x, -around.y);
}

CGAffineTransform rotated(const CGAffineTransform& t, CGFloat degrees, CGPoint around) {
    return t.translatedBy(around.x, around.y)
        .rotated(degreesToRadians(degrees))
        .translatedBy(-around.x, -around.y);
}

CGAffineTransform translatedBy(const CGAffineTransform& t, CGVector v,
                               bool rotationAndScalingAgnostic) {
    if (!rotationAndScalingAgnostic) {
        return t.translatedBy(v.dx, v.dy);
    }
    const CGAffineTransform untranslate = CGAffineTransform::makeTranslation(t.tx, t.ty).inverted();
    const CGPoint r = untranslate.apply(t.apply(CGPoint{v.dx, v.dy}));
    // The scale as `scaling` has it, but formed and divided by so that tiny
    // scales do not underflow to 0. A zero scale would divide 0 by 0: such an
    // axis takes no translation.
    const CGVector s{std::hypot(t.a, t.c), std::hypot(t.b, t.d)};
    const auto share = [](CGFloat value, CGFloat scale) {
        const CGFloat q = scale > 0 ? value / scale / scale : 0;
        return std::isfinite(q) ? q : 0;
    };
    return t.translatedBy(share(r.x, s.dx), -share(r.y, s.dy));
}

} // namespace velmora
