#include "Rendering/OpaqueRenderedLayer.hpp"

#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "MetalExtensions/MTLTextureExtensions.hpp"
#include "Rendering/MetalHelper.hpp"
#include "foundation/FatalError.hpp"
#include "graphics/NSColor.hpp"

namespace velmora {

namespace {

constexpr const char* kLabel = "Rendered Layer";
constexpr MTLPixelFormat kPixelFormat = MTLPixelFormat::rgba32Float;

std::shared_ptr<MTLCommandBuffer> newCommandBuffer() {
    auto commandBuffer = MetalHelper::shared()->commandQueue()->commandBuffer();
    if (!commandBuffer) {
        fatalError("No command buffer");
    }
    return commandBuffer;
}

CGRect rectOf(const MTLRegion& r) {
    return {{CGFloat(r.origin.x), CGFloat(r.origin.y)},
            {CGFloat(r.size.width), CGFloat(r.size.height)}};
}

} // namespace

OpaqueRenderedLayer::OpaqueRenderedLayer(const MTLSize& size,
                                         const std::shared_ptr<TexturePool>& parentPool,
                                         const std::shared_ptr<Layer>& layer)
    : pool_(parentPool), layer_(layer) {
    precondition(pool_ != nullptr && layer_ != nullptr,
                 "A rendered layer needs a pool and a layer");
    texture_ = pool_->texture(kLabel, size, MTLTextureUsage::shaderReadWrite,
                              MTLStorageMode::private_, kPixelFormat);
    // The pool and this object are the only owners when no earlier rendered
    // layer, and no pending command, still uses the texture.
    if (texture_.use_count() > 2) {
        texture_ = MetalHelper::shared()->makeTexture(
            size, MTLTextureUsage::shaderReadWrite, MTLStorageMode::private_, kPixelFormat, kLabel);
    }
    precondition(texture_ != nullptr, "No texture for the rendered layer");
    const auto commandBuffer = newCommandBuffer();
    MetalHelper::shared()->fill(texture_, *NSColor::clearColor(),
                                MTLRegion{MTLOriginZero, velmora::size(*texture_)}, commandBuffer);
    const MTLRegion bounds = layer_->boundingRect();
    if (!isEmpty(bounds)) {
        render(bounds, commandBuffer);
    }
    commandBuffer->commit();
}

std::shared_ptr<MTLCommandBuffer> OpaqueRenderedLayer::updateRegion(const MTLRegion& region) {
    auto commandBuffer = newCommandBuffer();
    render(region, commandBuffer);
    commandBuffer->commit();
    return commandBuffer;
}

void OpaqueRenderedLayer::render(const MTLRegion& region,
                                 const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    if (!intersects(region, MTLRegion{MTLOriginZero, size(*texture_)})) {
        return;
    }
    const CIImage image = layer_->image(region);
    const CGRect wanted = rectOf(region);
    if (!(imaging::intersection(wanted, image.extent()) == wanted)) {
        MetalHelper::shared()->fill(texture_, *NSColor::clearColor(), region, commandBuffer);
    }
    MetalHelper::shared()->render(image, texture_, region.origin, region, commandBuffer,
                                  "Render CIImage");
}

} // namespace velmora
