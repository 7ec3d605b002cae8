#include "SKTUtils/CGFloatExtensions.hpp"

#include <cmath>

namespace velmora {

CGFloat shortestAngleBetween(CGFloat angle1, CGFloat angle2) {
    constexpr CGFloat twoPi = 6.283185307179586;
    CGFloat d = std::fmod(angle2 - angle1, twoPi);
    if (d >= kPi) {
        d -= twoPi;
    }
    if (d <= -kPi) {
        d += twoPi;
    }
    return d;
}

} // namespace velmora
