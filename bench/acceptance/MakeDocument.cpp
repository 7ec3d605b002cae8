#include "MakeDocument.hpp"

#include "Canvas/CanvasArchive.hpp"
#include "Canvas/CanvasPreviews.hpp"
#include "Canvas/RasterLayer.hpp"
#include "PaintedBitmap.hpp"
#include "Rendering/MetalHelper.hpp"
#include "Rendering/RenderedCanvas.hpp"
#include "engine/PaintingScene.hpp"
#include "gpu/cpu/Workers.hpp"

#include <filesystem>
#include <iostream>

namespace velmora::acceptance {

namespace {

using bench::scene::side;

// The painted picture, premultiplied, as a layer's patch at `origin`.
std::shared_ptr<RasterLayer> paintedLayer(int index, const MTLRegion& region) {
    const auto bitmap = bench::paintedBitmap(region.size.width, index);
    auto texture = MetalHelper::shared()->makeTexture(
        region.size, MTLTextureUsage::shaderReadWrite, MTLStorageMode::private_,
        MTLPixelFormat::rgba8Unorm, "layer " + std::to_string(index));
    const MTLTextureContents contents = texture->contents();
    cpu::parallelRows(0, region.size.height, [&](int64_t y0, int64_t y1) {
        for (int64_t y = y0; y < y1; ++y) {
            const uint8_t* in = bitmap->row(y);
            uint8_t* out = contents.row(y);
            for (int64_t x = 0; x < region.size.width; ++x) {
                const int alpha = index == 0 ? 255 : in[4 * x + 3];
                for (int c = 0; c < 3; ++c) {
                    out[4 * x + c] = uint8_t((in[4 * x + c] * alpha + 127) / 255);
                }
                out[4 * x + 3] = uint8_t(alpha);
            }
        }
    });
    return RasterLayer::make("Layer " + std::to_string(index + 1), texture, region.origin);
}

} // namespace

// The engine benchmarks' scene with paint-like pixels, so that
// its patches compress as a painting's do.
int makeDocument(const std::string& file) {
    const Layers layers = bench::scene::sceneLayers(paintedLayer);
    auto canvas = LayeredCanvas::make({side, side, 1});
    canvas->setImmediateLayers(layers);
    canvas->setActiveLayer(layers.back());
    const auto flat = RenderedCanvas(canvas).asBitmap();
    if (!flat) {
        std::cerr << "the canvas could not be flattened" << std::endl;
        return 1;
    }
    const std::filesystem::path path(file);
    const auto temporary = std::filesystem::path(file + ".part");
    CanvasArchive::write(temporary, *canvas, *CanvasPreviews::makeStandardPreviews(flat));
    std::filesystem::rename(temporary, path);
    std::cout << "made " << path << " (" << std::filesystem::file_size(path) / 1000000 << " MB)"
              << std::endl;
    return 0;
}

} // namespace velmora::acceptance
