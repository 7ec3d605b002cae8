#pragma once

// The program benchmark's document: the painting session's scene of ten
// 8000 x 8000 layers with paint-like pixels, so that its patches compress as a
// painting's do (301 MB as a file).

#include "Canvas/LayeredCanvas.hpp"
#include "Canvas/RasterLayer.hpp"
#include "PaintedBitmap.hpp"
#include "engine/PaintingScene.hpp"

#include <memory>
#include <string>

namespace velmora::bench {

// The painted picture, premultiplied, as a layer's patch at `region`'s origin.
inline std::shared_ptr<RasterLayer> paintedLayer(int index, const MTLRegion& region) {
    const auto bitmap = paintedBitmap(region.size.width, index);
    return scene::rowPaintedLayer(
        index, region, "Layer " + std::to_string(index + 1), [&](int64_t y, uint8_t* out) {
            const uint8_t* in = bitmap->row(y);
            for (int64_t x = 0; x < region.size.width; ++x) {
                const int alpha = index == 0 ? 255 : in[4 * x + 3];
                for (int c = 0; c < 3; ++c) {
                    out[4 * x + c] = uint8_t((in[4 * x + c] * alpha + 127) / 255);
                }
                out[4 * x + 3] = uint8_t(alpha);
            }
        });
}

// The scene's canvas with those layers, the top one active.
inline std::shared_ptr<LayeredCanvas> paintedDocumentCanvas() {
    const Layers layers = scene::sceneLayers(paintedLayer);
    auto canvas = LayeredCanvas::make({scene::side, scene::side, 1});
    canvas->setImmediateLayers(layers);
    canvas->setActiveLayer(layers.back());
    return canvas;
}

} // namespace velmora::bench
