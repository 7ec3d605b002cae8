#pragma once

#include "graphics/CGColorSpace.hpp"
#include "graphics/NSColorSpace.hpp"

namespace velmora {

// The working colour space of every texture, bitmap, preview and stroke colour.
struct ColorManagement {
    ColorManagement() = delete;

    // sRGB, made once; every caller gets the same object.
    static const CGColorSpaceRef& workingColorSpace();
    // Built from workingColorSpace, made once.
    static const NSColorSpaceRef& workingNSColorSpace();
};

} // namespace velmora
