#pragma once

#include "gpu/MTLCommandBuffer.hpp"

#include <memory>

namespace velmora {

// Encodes a frame's compute and blit work; called once per frame on the main thread,
// before the frame's compute command buffer is committed.
class RendererComputable {
public:
    virtual ~RendererComputable() = default;
    virtual void compute(const std::shared_ptr<MTLCommandBuffer>& commandBuffer) = 0;
};

} // namespace velmora
