#pragma once

#include <cstdint>

namespace velmora {

// The edges of a rectangle, by the platform's raw values.
enum class NSRectEdge : int64_t { minX = 0, minY = 1, maxX = 2, maxY = 3 };

} // namespace velmora
