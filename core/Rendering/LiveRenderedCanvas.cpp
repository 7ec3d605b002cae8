#include "Rendering/LiveRenderedCanvas.hpp"

#include "Rendering/BlendKernel.hpp"
#include "foundation/FatalError.hpp"

namespace velmora {

LiveRenderedCanvas::LiveRenderedCanvas(const std::shared_ptr<LayeredCanvas>& canvas,
                                       const std::shared_ptr<Layer>& strokeLayer)
    : RenderedCanvas(canvas), strokeLayer_(strokeLayer) {}

CIImage LiveRenderedCanvas::activeLayerImage(const Layer& layer, const MTLRegion& region) const {
    const auto strokeLayer = strokeLayer_.lock();
    if (!strokeLayer) {
        fatalError("The stroke layer is gone");
    }
    const CIImage stroke = strokeLayer->image(region);
    const CIImage content = layer.image(region);
    const auto blended = blendKernel(strokeLayer->blendMode())->apply(stroke, content);
    if (!blended) {
        fatalError("The stroke's blend gave no image");
    }
    return layer.applyingAlpha(*blended);
}

} // namespace velmora
