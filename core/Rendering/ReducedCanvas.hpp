#pragma once

#include "Rendering/CanvasMipChain.hpp"
#include "Rendering/RenderedCanvas.hpp"

#include <map>
#include <memory>

namespace velmora {

// The canvas composited from its raster layers' halvings, `level` times
// smaller on each side: a picture shown only while an interaction lasts, never
// read as a result. Each patch's halvings are remade on the GPU timeline, only
// where its pixels changed since they were last made; a patch keeps them while
// it lives. Filled layers need none. Main thread only.
class ReducedCanvas : public RenderedCanvas {
public:
    ReducedCanvas(const std::shared_ptr<LayeredCanvas>& canvas, int level);

    int level() const { return level_; }
    // ⌈n / 2^level⌉ on each side: the size of a texture halved `level` times.
    static MTLSize reducedSize(const MTLSize& size, int level);
    // The texels of the reduced picture that pixels of `region` reach.
    static MTLRegion reducedRegion(const MTLRegion& region, int level);

    // Without the stroke in progress: a reduced picture is never shown during one.
    CIImage activeLayerImage(const Layer& layer, const MTLRegion& region) const override;

protected:
    CIImage layerImage(const Layer& layer, const MTLRegion& region) const override;

private:
    struct Chain {
        std::weak_ptr<MTLTexture> source;
        std::unique_ptr<CanvasMipChain> levels;
    };
    int level_;
    mutable std::map<const MTLTexture*, Chain> chains_;
};

} // namespace velmora
