#pragma once

#include "Rendering/RenderedCanvas.hpp"

namespace velmora {

// The rendered canvas that shows a stroke in progress: the active raster
// layer's picture has the stroke layer blended in by the stroke's blend mode
// before the layer's visibility and opacity apply.
class LiveRenderedCanvas : public RenderedCanvas {
public:
    LiveRenderedCanvas(const std::shared_ptr<LayeredCanvas>& canvas,
                       const std::shared_ptr<Layer>& strokeLayer);

    // A stroke layer that is gone stops the program.
    CIImage activeLayerImage(const Layer& layer, const MTLRegion& region) const override;

private:
    std::weak_ptr<Layer> strokeLayer_;
};

} // namespace velmora
