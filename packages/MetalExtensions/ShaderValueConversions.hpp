#pragma once

#include "gpu/MPSImageConversion.hpp"
#include "gpu/MTLGeometry.hpp"
#include "gpu/MTLTypes.hpp"
#include "gpu/SIMD.hpp"
#include "graphics/CGGeometry.hpp"
#include "graphics/NSColor.hpp"

#include <cstdint>

// The system's geometry and colours as the values shaders and platform calls take.
namespace velmora {

// The colour's red, green, blue and alpha components as they read (the colour must
// be RGB; no conversion of its own).
MTLClearColor mtlClearColor(const NSColor& color);

MPSOffset mpsOffset(const MTLOrigin& origin);

// (width, height) and (x, y); a component below 0 or above 4294967295 stops the program.
SIMD2<uint32_t> simd2UInt32(const MTLSize& size);
SIMD2<uint32_t> simd2UInt32(const MTLOrigin& origin);

SIMD2<float> simd2Float(const CGSize& size);
SIMD2<float> simd2Float(const CGPoint& point);

// Columns (a, b, 0), (c, d, 0), (tx, ty, 1): the matrix times (x, y, 1) is the
// transformed point, as the transform maps it.
simd_float3x3 simdFloat3x3(const CGAffineTransform& transform);

} // namespace velmora
