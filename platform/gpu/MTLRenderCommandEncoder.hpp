#pragma once

#include "gpu/MTLBuffer.hpp"
#include "gpu/MTLCommandEncoder.hpp"
#include "gpu/MTLLibrary.hpp"
#include "gpu/MTLTexture.hpp"
#include "gpu/MTLTypes.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace velmora {

// Draws triangles into the pass's colour attachment. Bindings are captured by
// value at each draw.
class MTLRenderCommandEncoder : public MTLCommandEncoder {
public:
    virtual void setViewport(MTLViewport viewport) = 0;
    virtual void setRenderPipelineState(std::shared_ptr<MTLRenderPipelineState> state) = 0;
    virtual void setVertexBytes(const void* bytes, size_t length, uint64_t index) = 0;
    virtual void setVertexBuffer(std::shared_ptr<MTLBuffer> buffer, int64_t offset,
                                 uint64_t index) = 0;
    virtual void setFragmentBytes(const void* bytes, size_t length, uint64_t index) = 0;
    virtual void setFragmentBuffer(std::shared_ptr<MTLBuffer> buffer, int64_t offset,
                                   uint64_t index) = 0;
    virtual void setFragmentTexture(std::shared_ptr<MTLTexture> texture, uint64_t index) = 0;
    virtual void drawPrimitives(MTLPrimitiveType type, uint64_t vertexStart,
                                uint64_t vertexCount) = 0;
};

} // namespace velmora
