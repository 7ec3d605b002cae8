#pragma once

#include "gpu/cpu/ShaderFunctions.hpp"

namespace velmora::cpu {

// "fill": texture 0 the destination; buffer 1 the colour (4 floats); buffer 2 the
// region's origin and buffer 3 its size (2 unsigned 32-bit integers each). Writes
// the colour to every texel of the region that a thread of the grid reaches.
ComputeKernel makeFillKernel();

} // namespace velmora::cpu
