#pragma once

#include "graphics/CGGeometry.hpp"

namespace velmora {

// One dot on its way through the stroke processors.
struct StrokeDot {
    CGPoint position;
    double spacing = 0; // wanted distance in pixels to the next dot's centre
    double radius = 0;
    double hardness = 0;
    double opacity = 0;

    // Positions closer than 1e-6 count as equal; everything else must match exactly.
    friend bool operator==(const StrokeDot& a, const StrokeDot& b);
};

} // namespace velmora
