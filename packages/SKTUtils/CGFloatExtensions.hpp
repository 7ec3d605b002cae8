#pragma once

// Scalar helpers on floating-point numbers (CGFloat). Bounds may come in
// either order: the smaller one is the lower bound.

#include "graphics/CGGeometry.hpp"

#include <concepts>
#include <type_traits>

namespace velmora {

inline constexpr CGFloat kPi = 3.141592653589793;

inline CGFloat degreesToRadians(CGFloat degrees) {
    return degrees * kPi / 180;
}
inline CGFloat radiansToDegrees(CGFloat radians) {
    return radians * 180 / kPi;
}

template <std::floating_point F>
F clamped(F value, std::type_identity_t<F> bound1, std::type_identity_t<F> bound2) {
    const F low = bound1 < bound2 ? bound1 : bound2;
    const F high = bound1 < bound2 ? bound2 : bound1;
    if (value < low) {
        return low;
    }
    return high < value ? high : value;
}
template <std::floating_point F>
F clamp(F& value, std::type_identity_t<F> bound1, std::type_identity_t<F> bound2) {
    return value = clamped(value, bound1, bound2);
}
// Both ends included.
template <std::floating_point F>
bool inRange(F value, std::type_identity_t<F> bound1, std::type_identity_t<F> bound2) {
    const F low = bound1 < bound2 ? bound1 : bound2;
    const F high = bound1 < bound2 ? bound2 : bound1;
    return low <= value && value <= high;
}
// 1 for values ≥ 0 (−0 included), −1 otherwise (not-a-number included).
inline CGFloat sign(CGFloat value) {
    return value >= 0 ? 1.0 : -1.0;
}

// A 32-bit draw scaled into 0...1 in single precision; rounding can give 1.
CGFloat randomCGFloat();
CGFloat randomCGFloat(CGFloat min, CGFloat max);
// 1 or −1 with equal chance.
CGFloat randomSign();

// The signed difference angle2 − angle1 brought into (−π, π].
CGFloat shortestAngleBetween(CGFloat angle1, CGFloat angle2);

} // namespace velmora
