#pragma once

#include "imaging/CIColor.hpp"
#include "imaging/CIImage.hpp"

namespace velmora {

// An image of one colour covering every possible canvas with room around it:
// from −4096 up to the largest canvas side on each axis.
CIImage canvasFillImage(const CIColor& color);

} // namespace velmora
