#pragma once

#include "gpu/MTLBuffer.hpp"
#include "gpu/MTLCommandEncoder.hpp"
#include "gpu/MTLGeometry.hpp"
#include "gpu/MTLLibrary.hpp"
#include "gpu/MTLTexture.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace velmora {

// Bindings are captured by value when a dispatch is encoded: changing them later,
// or changing the bytes passed to setBytes, leaves earlier dispatches as they were.
class MTLComputeCommandEncoder : public MTLCommandEncoder {
public:
    virtual void setComputePipelineState(std::shared_ptr<MTLComputePipelineState> state) = 0;
    virtual void setTexture(std::shared_ptr<MTLTexture> texture, uint64_t index) = 0;
    // At most 4096 bytes.
    virtual void setBytes(const void* bytes, size_t length, uint64_t index) = 0;
    virtual void setBuffer(std::shared_ptr<MTLBuffer> buffer, int64_t offset, uint64_t index) = 0;
    virtual void dispatchThreadgroups(MTLSize threadgroupsPerGrid,
                                      MTLSize threadsPerThreadgroup) = 0;
};

} // namespace velmora
