#pragma once

#include "MetalExtensions/MTLSizeExtensions.hpp"

namespace velmora {

inline constexpr MTLSize CanvasMinimumSize{1, 1, 1};
inline constexpr MTLSize CanvasMaximumSize{8000, 8000, 1};

// Width and height from 1 to 8000, depth exactly 1.
inline bool isAcceptableCanvasSize(const MTLSize& size) {
    return contains(CanvasMaximumSize, size) && contains(size, CanvasMinimumSize);
}

} // namespace velmora
