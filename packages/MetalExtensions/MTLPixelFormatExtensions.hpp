#pragma once

#include "gpu/MTLPixelFormat.hpp"

#include <string_view>

namespace velmora {

// The format's name in the platform's enumeration, e.g. "rgba8Unorm". A raw value
// outside the known formats stops the program.
std::string_view description(MTLPixelFormat format);

// Width of one component of one pixel: 8, 16 or 32, and 0 for packed, compressed,
// sub-sampled and combined depth-stencil formats. An unknown raw value stops the program.
int bitsPerSample(MTLPixelFormat format);

} // namespace velmora
