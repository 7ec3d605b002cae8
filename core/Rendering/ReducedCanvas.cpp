#include "Rendering/ReducedCanvas.hpp"

#include "Canvas/RasterLayer.hpp"
#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "MetalExtensions/MTLTextureExtensions.hpp"
#include "Rendering/MetalHelper.hpp"
#include "foundation/FatalError.hpp"
#include "graphics/ColorManagement.hpp"
#include "imaging/CIBlendKernel.hpp"

namespace velmora {

namespace {

int64_t floorShift(int64_t v, int level) {
    return v >= 0 ? v >> level : -((-v + (int64_t(1) << level) - 1) >> level);
}

int64_t ceilShift(int64_t v, int level) {
    return -floorShift(-v, level);
}

} // namespace

ReducedCanvas::ReducedCanvas(const std::shared_ptr<LayeredCanvas>& canvas, int level)
    : RenderedCanvas(canvas, reducedSize(canvas->size(), level)), level_(level) {
    precondition(level >= 1, "A reduced canvas is halved at least once");
}

MTLSize ReducedCanvas::reducedSize(const MTLSize& size, int level) {
    return {ceilShift(size.width, level), ceilShift(size.height, level), 1};
}

MTLRegion ReducedCanvas::reducedRegion(const MTLRegion& region, int level) {
    if (isEmpty(region)) {
        return {};
    }
    const int64_t x0 = floorShift(left(region), level), y0 = floorShift(bottom(region), level);
    const int64_t x1 = ceilShift(right(region), level), y1 = ceilShift(top(region), level);
    return makeMTLRegion(x0, y0, x1 - x0, y1 - y0);
}

CIImage ReducedCanvas::activeLayerImage(const Layer& layer, const MTLRegion& region) const {
    return layer.applyingAlpha(layerImage(layer, region));
}

CIImage ReducedCanvas::layerImage(const Layer& layer, const MTLRegion& region) const {
    const auto* raster = dynamic_cast<const RasterLayer*>(&layer);
    MTLCommandBuffer* buffer = encodingBuffer();
    if (raster == nullptr || buffer == nullptr) {
        return layer.image(region);
    }
    for (auto it = chains_.begin(); it != chains_.end();) {
        it = it->second.source.expired() ? chains_.erase(it) : std::next(it);
    }
    const auto& sourceOver = CIBlendKernel::sourceOver();
    CIImageOptions options;
    options.colorSpace = ColorManagement::workingColorSpace();
    CIImage result;
    for (const auto& patch : raster->patches()) {
        // Placed at the reduced origin: off by less than one reduced pixel.
        const MTLOrigin origin{floorShift(patch->origin.x, level_),
                               floorShift(patch->origin.y, level_), 0};
        const MTLSize size = reducedSize(velmora::size(*patch->texture()), level_);
        if (!intersects(MTLRegion{origin, size}, region)) {
            continue;
        }
        Chain& chain = chains_[patch->texture().get()];
        if (chain.levels == nullptr || chain.source.lock() != patch->texture()) {
            chain = {patch->texture(),
                     std::make_unique<CanvasMipChain>(MetalHelper::shared()->device())};
        }
        const auto reduced = chain.levels->encodeLevel(patch->texture(), level_, *buffer);
        if (reduced == nullptr) {
            continue; // too small to halve: it covers less than a reduced pixel
        }
        const auto texture = CIImage::withTexture(reduced, options);
        precondition(texture.has_value(), "A reduced patch gives no image");
        const CIImage placed = texture
                                   ->transformed(CGAffineTransform::makeTranslation(
                                       CGFloat(origin.x), CGFloat(origin.y)))
                                   .premultiplyingAlpha();
        result = *sourceOver->apply(placed, result);
    }
    return result;
}

} // namespace velmora
