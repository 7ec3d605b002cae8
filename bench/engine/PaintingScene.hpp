#pragma once

// The painting session's scene, shared by the engine's and the application's
// benchmarks: an 8000 x 8000 canvas of ten painted layers in varied blend modes.

#include "Canvas/LayeredCanvas.hpp"
#include "Canvas/RasterLayer.hpp"
#include "Rendering/MetalHelper.hpp"
#include "gpu/cpu/Workers.hpp"

#include <cstdint>
#include <memory>
#include <string>

namespace velmora::bench::scene {

inline constexpr int64_t side = 8000;

// A layer at `region`'s origin whose texture `paintRow(y, row)` fills a row at
// a time, rows on several threads.
template <typename PaintRow>
std::shared_ptr<RasterLayer> rowPaintedLayer(int index, const MTLRegion& region,
                                             const std::string& name, PaintRow paintRow) {
    auto texture = MetalHelper::shared()->makeTexture(
        region.size, MTLTextureUsage::shaderReadWrite, MTLStorageMode::private_,
        MTLPixelFormat::rgba8Unorm, "layer " + std::to_string(index));
    const MTLTextureContents contents = texture->contents();
    cpu::parallelRows(0, region.size.height, [&](int64_t y0, int64_t y1) {
        for (int64_t y = y0; y < y1; ++y) {
            paintRow(y, contents.row(y));
        }
    });
    return RasterLayer::make(name, texture, region.origin);
}

// Paints a square patch of the layer with varied colour and alpha.
inline std::shared_ptr<RasterLayer> paintedLayer(int index, const MTLRegion& region) {
    return rowPaintedLayer(index, region, "Layer " + std::to_string(index),
                           [&](int64_t y, uint8_t* row) {
                               uint32_t s = uint32_t(y * 2654435761u + uint32_t(index) * 40503u);
                               for (int64_t x = 0; x < region.size.width; ++x) {
                                   s = s * 1664525u + 1013904223u;
                                   row[4 * x] = uint8_t(s >> 24);
                                   row[4 * x + 1] = uint8_t(s >> 16);
                                   row[4 * x + 2] = uint8_t(s >> 8);
                                   row[4 * x + 3] = index == 0 ? 255 : uint8_t((s >> 3) | 0x20);
                               }
                           });
}

// The background painted all over, nine layers painted over a quarter of the
// canvas each, spread so that a stroke across the middle crosses most of them.
// `paint(index, region)` makes each layer.
template <typename Paint> Layers sceneLayers(Paint paint) {
    const BlendMode modes[] = {BlendMode::sourceOver, BlendMode::multiply,    BlendMode::overlay,
                               BlendMode::sourceOver, BlendMode::linearDodge, BlendMode::sourceOver,
                               BlendMode::linearBurn, BlendMode::overlay,     BlendMode::multiply,
                               BlendMode::sourceOver};
    Layers layers;
    for (int i = 0; i < 10; ++i) {
        const MTLRegion region =
            i == 0 ? MTLRegion{{0, 0, 0}, {side, side, 1}}
                   : MTLRegion{{500 + 350 * i, 4000 - 300 * i, 0}, {side / 2, side / 2, 1}};
        std::shared_ptr<RasterLayer> layer = paint(i, region);
        layer->setBlendMode(modes[i]);
        layers.push_back(layer);
    }
    return layers;
}

// The scene with noise-painted layers; layer 5 is active.
inline std::shared_ptr<LayeredCanvas> paintedCanvas() {
    const Layers layers = sceneLayers(paintedLayer);
    auto canvas = LayeredCanvas::make({side, side, 1});
    canvas->setImmediateLayers(layers);
    canvas->setActiveLayer(layers[5]);
    return canvas;
}

} // namespace velmora::bench::scene
