#include "StrokeProcessors/StrokeDot.hpp"

#include "SKTUtils/CGPointExtensions.hpp"

namespace velmora {

bool operator==(const StrokeDot& a, const StrokeDot& b) {
    return a.spacing == b.spacing && a.radius == b.radius && a.hardness == b.hardness &&
           a.opacity == b.opacity && distanceTo(a.position, b.position) < 1e-6;
}

} // namespace velmora
