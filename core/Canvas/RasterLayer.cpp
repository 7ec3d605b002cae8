#include "Canvas/RasterLayer.hpp"

#include "foundation/Hasher.hpp"
#include "graphics/ColorManagement.hpp"
#include "imaging/CIBlendKernel.hpp"

#include <algorithm>
#include <numeric>

namespace velmora {

namespace {

constexpr std::string_view kPatchesKey = "patches";

// Sweeps the patches from the left; only those whose columns overlap are compared.
bool anyOverlap(const RasterLayer::Patches& patches) {
    std::vector<MTLRegion> regions;
    regions.reserve(patches.size());
    for (const auto& patch : patches) {
        regions.push_back(patch->region());
    }
    std::sort(regions.begin(), regions.end(),
              [](const MTLRegion& a, const MTLRegion& b) { return a.origin.x < b.origin.x; });
    for (size_t i = 0; i < regions.size(); ++i) {
        for (size_t j = i + 1; j < regions.size() && regions[j].origin.x < right(regions[i]); ++j) {
            if (intersects(regions[i], regions[j])) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

std::vector<MTLRegion> RasterLayer::regions() const {
    std::vector<MTLRegion> result;
    result.reserve(patches_.size());
    for (const auto& patch : patches_) {
        result.push_back(patch->region());
    }
    return result;
}

CIImage RasterLayer::image(const MTLRegion& region) const {
    const auto& sourceOver = CIBlendKernel::sourceOver();
    CIImageOptions options;
    options.colorSpace = ColorManagement::workingColorSpace();
    CIImage result;
    for (const auto& patch : patches_) {
        if (!intersects(patch->region(), region)) {
            continue;
        }
        const auto texture = CIImage::withTexture(patch->texture(), options);
        precondition(texture.has_value(), "A patch texture gives no image");
        const CIImage placed = texture
                                   ->transformed(CGAffineTransform::makeTranslation(
                                       CGFloat(patch->origin.x), CGFloat(patch->origin.y)))
                                   .premultiplyingAlpha();
        result = *sourceOver->apply(placed, result);
    }
    return result;
}

void RasterLayer::moveContents(const MTLVector& vector) {
    for (const auto& patch : patches_) {
        patch->origin += vector;
    }
}

void RasterLayer::typedEncode(Encoder& encoder) const {
    KeyedEncodingContainer container = encoder.container();
    Encoder base = container.superEncoder();
    Layer::typedEncode(base);
    container.encode(patches_, kPatchesKey);
}

std::shared_ptr<RasterLayer> RasterLayer::decode(Decoder& decoder) {
    const KeyedDecodingContainer container = decoder.container();
    Decoder base = container.superDecoder();
    std::shared_ptr<RasterLayer> layer(new RasterLayer(Decoding{}, base));
    layer->patches_ = container.decode<Patches>(kPatchesKey);
    if (anyOverlap(layer->patches_)) {
        throw container.dataCorruptedError(kPatchesKey, "The layer's patches overlap.");
    }
    return layer;
}

bool RasterLayer::isEqual(const Layer& other) const {
    const auto* raster = dynamic_cast<const RasterLayer*>(&other);
    return raster != nullptr && Layer::isEqual(other) &&
           std::equal(patches_.begin(), patches_.end(), raster->patches_.begin(),
                      raster->patches_.end(),
                      [](const auto& a, const auto& b) { return *a == *b; });
}

std::size_t RasterLayer::hash() const {
    Hasher hasher;
    hasher.combine(Layer::hash());
    hasher.combine(patches_.size());
    for (const auto& patch : patches_) {
        hasher.combine(patch->hash());
    }
    return hasher.finalize();
}

} // namespace velmora
