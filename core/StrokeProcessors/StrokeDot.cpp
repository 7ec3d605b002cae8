#include "StrokeProcessors/StrokeDot.hpp"

#include <cmath>

namespace velmora {

bool operator==(const StrokeDot& a, const StrokeDot& b) {
    return a.spacing == b.spacing && a.radius == b.radius && a.hardness == b.hardness &&
           a.opacity == b.opacity &&
           std::hypot(a.position.x - b.position.x, a.position.y - b.position.y) < 1e-6;
}

} // namespace velmora
