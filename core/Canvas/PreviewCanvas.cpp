#include "Canvas/PreviewCanvas.hpp"

#include "Rendering/MetalHelper.hpp"
#include "graphics/ColorManagement.hpp"

namespace velmora {

PreviewCanvas::PreviewCanvas(const NSBitmapImageRep& bitmap)
    : texture_(MetalHelper::shared()->makeTexture(bitmap, ColorManagement::workingColorSpace())) {}

MTLSize PreviewCanvas::size() const {
    return {texture_->width(), texture_->height(), texture_->depth()};
}

} // namespace velmora
