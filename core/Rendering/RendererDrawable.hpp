#pragma once

#include "gpu/MTLCommandBuffer.hpp"
#include "gpu/MTLRenderPassDescriptor.hpp"
#include "gpu/MTLTypes.hpp"

#include <memory>

namespace velmora {

// Encodes drawing into the view's render pass of a frame, on the main thread.
class RendererDrawable {
public:
    virtual ~RendererDrawable() = default;
    virtual void render(MTLViewport viewport, const MTLRenderPassDescriptor& renderPassDescriptor,
                        const std::shared_ptr<MTLCommandBuffer>& commandBuffer) = 0;
};

} // namespace velmora
