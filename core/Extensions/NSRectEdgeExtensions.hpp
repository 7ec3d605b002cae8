#pragma once

#include "foundation/NSGeometry.hpp"
#include "graphics/CGGeometry.hpp"

#include <string>

namespace velmora {

// "minX", "minY", "maxX" or "maxY"; any other value stops the program.
std::string description(NSRectEdge edge);
// The edge's midpoint in the unit square; any other value stops the program.
CGPoint normalizedPosition(NSRectEdge edge);

} // namespace velmora
