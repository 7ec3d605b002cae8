#pragma once

#include "graphics/CGGeometry.hpp"

namespace velmora {

// One pointer sample as the stabiliser takes and returns it.
struct RawPoint {
    CGPoint position;
    double pressure = 0;

    // Plain floating-point equality: a NaN component never compares equal.
    friend bool operator==(const RawPoint&, const RawPoint&) = default;
};

} // namespace velmora
