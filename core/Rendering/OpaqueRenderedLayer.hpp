#pragma once

#include "Canvas/Layer.hpp"
#include "Rendering/TexturePool.hpp"
#include "gpu/MTLCommandBuffer.hpp"
#include "gpu/MTLTexture.hpp"

#include <memory>

namespace velmora {

// The active layer's content in one rgba32Float texture of the canvas's
// size, without its visibility and opacity: what strokes are drawn into.
// Main thread only.
class OpaqueRenderedLayer {
public:
    // Takes "Rendered Layer" from the pool, clears it and renders the layer's
    // content on a command buffer that is committed, not waited for. The
    // pool's texture is shared with an earlier rendered layer only when
    // nothing holds it any more; otherwise this one gets a texture of its
    // own, so pending work on the old layer never sees the new one.
    OpaqueRenderedLayer(const MTLSize& size, const std::shared_ptr<TexturePool>& parentPool,
                        const std::shared_ptr<Layer>& layer);
    OpaqueRenderedLayer(const OpaqueRenderedLayer&) = delete;
    OpaqueRenderedLayer& operator=(const OpaqueRenderedLayer&) = delete;

    const std::shared_ptr<MTLTexture>& texture() const { return texture_; }
    const std::shared_ptr<TexturePool>& pool() const { return pool_; }
    const std::shared_ptr<Layer>& layer() const { return layer_; }

    // Renders the region on a new command buffer and returns it committed.
    std::shared_ptr<MTLCommandBuffer> updateRegion(const MTLRegion& region);
    // Encodes the re-rendering of the region; a region outside the texture
    // encodes nothing.
    void render(const MTLRegion& region, const std::shared_ptr<MTLCommandBuffer>& commandBuffer);

private:
    std::shared_ptr<MTLTexture> texture_;
    std::shared_ptr<TexturePool> pool_;
    std::shared_ptr<Layer> layer_;
};

} // namespace velmora
