#include "graphics/ColorManagement.hpp"

namespace velmora {

const CGColorSpaceRef& ColorManagement::workingColorSpace() {
    static const CGColorSpaceRef space = CGColorSpace::withName(CGColorSpaceName::sRGB);
    return space;
}

const NSColorSpaceRef& ColorManagement::workingNSColorSpace() {
    static const NSColorSpaceRef space = NSColorSpace::withCGColorSpace(workingColorSpace());
    return space;
}

} // namespace velmora
