#include "MetalExtensions/MTLVector.hpp"

#include <cmath>

namespace velmora {

MTLVector::MTLVector(CGVector vector, CGVector& residual)
    : dx(checked::toInteger<int64_t>(vector.dx)), dy(checked::toInteger<int64_t>(vector.dy)) {
    residual = {vector.dx - static_cast<double>(dx), vector.dy - static_cast<double>(dy)};
}

double MTLVector::length() const {
    const int64_t sum = checked::add(checked::add(checked::mul(dx, dx), checked::mul(dy, dy)),
                                     checked::mul(dz, dz));
    return std::sqrt(static_cast<double>(sum));
}

} // namespace velmora
