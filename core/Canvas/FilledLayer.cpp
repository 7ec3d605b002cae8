#include "Canvas/FilledLayer.hpp"

#include "Canvas/CanvasSize.hpp"
#include "Extensions/CIImageExtensions.hpp"

namespace velmora {

std::vector<MTLRegion> FilledLayer::regions() const {
    return {MTLRegion{MTLOriginZero, CanvasMaximumSize}};
}

CIImage FilledLayer::image(const MTLRegion&) const {
    return canvasFillImage(color_);
}

void FilledLayer::moveContents(const MTLVector&) {}

} // namespace velmora
