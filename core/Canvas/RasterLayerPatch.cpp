#include "Canvas/RasterLayerPatch.hpp"

#include "MetalExtensions/MTLCommandBufferExtensions.hpp"
#include "Rendering/MetalHelper.hpp"
#include "foundation/Hasher.hpp"
#include "graphics/NSColor.hpp"

namespace velmora {

RasterLayerPatch::RasterLayerPatch(const MTLOrigin& origin, std::shared_ptr<MTLTexture> texture)
    : origin(origin), texture_(std::move(texture)) {
    precondition(texture_ != nullptr, "A patch needs a texture");
}

std::shared_ptr<RasterLayerPatch> RasterLayerPatch::make(const MTLOrigin& origin, int64_t width,
                                                         int64_t height, const std::string& name) {
    precondition(width > 0 && height > 0, "A patch cannot be empty");
    MetalHelper& helper = *MetalHelper::shared();
    auto texture = helper.makeTexture({width, height, 1}, MTLTextureUsage::shaderReadWrite,
                                      MTLStorageMode::private_, MTLPixelFormat::rgba8Unorm, name);
    auto patch = std::make_shared<RasterLayerPatch>(origin, std::move(texture));
    const auto commandBuffer = helper.commandQueue()->commandBuffer();
    helper.fill(patch->texture_, *NSColor::clearColor(), {MTLOriginZero, {width, height, 1}},
                commandBuffer);
    commandBuffer->commit();
    return patch;
}

std::shared_ptr<RasterLayerPatch>
RasterLayerPatch::merge(const std::vector<std::shared_ptr<RasterLayerPatch>>& patches,
                        const MTLRegion& region,
                        const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    if (patches.empty()) {
        fatalError("Internal inconcistency");
    }
    MTLRegion bounds{};
    for (const auto& patch : patches) {
        bounds = unionWith(bounds, patch->region());
    }
    bounds = unionWith(bounds, region);
    auto merged = make(bounds.origin, bounds.size.width, bounds.size.height,
                       "Merge of " + std::to_string(patches.size()) + " patches");
    MetalHelper& helper = *MetalHelper::shared();
    for (const auto& patch : patches) {
        const MTLOrigin offset = makeMTLOrigin(patch->origin - bounds.origin);
        blit(*commandBuffer, std::nullopt, [&](MTLBlitCommandEncoder& encoder) {
            helper.encodePaste(
                patch->texture_,
                {MTLOriginZero, {patch->texture_->width(), patch->texture_->height(), 1}},
                merged->texture_, offset, encoder);
        });
    }
    return merged;
}

MTLRegion RasterLayerPatch::region() const {
    return {origin, {texture_->width(), texture_->height(), texture_->depth()}};
}

bool operator==(const RasterLayerPatch& a, const RasterLayerPatch& b) {
    return a.origin == b.origin && a.texture_->width() == b.texture_->width() &&
           a.texture_->height() == b.texture_->height() &&
           a.texture_->depth() == b.texture_->depth() && a.name() == b.name() &&
           a.texture_->hash() == b.texture_->hash();
}

std::size_t RasterLayerPatch::hash() const {
    Hasher hasher;
    hasher.combine(std::hash<MTLOrigin>()(origin));
    hasher.combine(texture_->width());
    hasher.combine(texture_->height());
    hasher.combine(texture_->depth());
    const auto label = name();
    hasher.combine(label ? 1 : 0);
    if (label) {
        hasher.combine(std::hash<std::string>()(*label));
    }
    hasher.combine(texture_->hash());
    return hasher.finalize();
}

std::string RasterLayerPatch::description() const {
    return name().value_or("nil") + " @ " + velmora::description(region());
}

} // namespace velmora
