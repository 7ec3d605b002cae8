#pragma once

#include "gpu/MTLCommandBuffer.hpp"

#include <functional>
#include <optional>
#include <string>

// Opening, labelling and closing an encoder around one unit of work. The
// callback gets the open encoder, must not end it and cannot keep it; the
// encoder ends when the callback returns.
namespace velmora {

void blit(MTLCommandBuffer& commandBuffer, const std::optional<std::string>& label,
          const std::function<void(MTLBlitCommandEncoder&)>& body);
void compute(MTLCommandBuffer& commandBuffer, const std::optional<std::string>& label,
             const std::function<void(MTLComputeCommandEncoder&)>& body);
void render(MTLCommandBuffer& commandBuffer, const MTLRenderPassDescriptor& descriptor,
            const std::optional<std::string>& label,
            const std::function<void(MTLRenderCommandEncoder&)>& body);

// (w + 15) / 16 × (h + 15) / 16 × 1 groups of 16 × 16 × 1 threads, covering at least
// w × h threads; the depth is ignored. Kernels must ignore threads beyond their texture.
void dispatchThreadgroupsForWorkingOn(MTLComputeCommandEncoder& encoder, const MTLSize& size);
void dispatchThreadgroupsForWorkingOn(MTLComputeCommandEncoder& encoder, const MTLTexture& texture);

} // namespace velmora
