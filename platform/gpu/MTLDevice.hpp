#pragma once

#include "gpu/MTLBuffer.hpp"
#include "gpu/MTLCommandBuffer.hpp"
#include "gpu/MTLLibrary.hpp"
#include "gpu/MTLTexture.hpp"
#include "gpu/MTLTextureDescriptor.hpp"

#include <cstdint>
#include <memory>
#include <string>

namespace velmora {

class MTLDevice {
public:
    virtual ~MTLDevice() = default;

    virtual std::string name() const = 0;
    virtual uint64_t currentAllocatedSize() const = 0;
    virtual uint64_t recommendedMaxWorkingSetSize() const = 0;

    // None for a descriptor the device cannot make (size, type or pixel format).
    virtual std::shared_ptr<MTLTexture> newTexture(const MTLTextureDescriptor& descriptor) = 0;
    virtual std::shared_ptr<MTLBuffer> newBuffer(int64_t length, MTLResourceOptions options) = 0;
    virtual std::shared_ptr<MTLBuffer> newBuffer(const void* bytes, int64_t length,
                                                 MTLResourceOptions options) = 0;
    virtual std::shared_ptr<MTLCommandQueue> newCommandQueue() = 0;
    virtual std::shared_ptr<MTLLibrary> newDefaultLibrary() = 0;
    // Throw MTLError when the functions do not fit the pipeline.
    virtual std::shared_ptr<MTLComputePipelineState>
    newComputePipelineState(std::shared_ptr<MTLFunction> function) = 0;
    virtual std::shared_ptr<MTLRenderPipelineState>
    newRenderPipelineState(const MTLRenderPipelineDescriptor& descriptor) = 0;

    // Test mode: every command buffer runs inside commit(), on the committing thread,
    // after all earlier work of the device.
    virtual void setSynchronousCommandExecution(bool synchronous) = 0;
    virtual bool synchronousCommandExecution() const = 0;
};

// The one device of the process, made on first use.
std::shared_ptr<MTLDevice> MTLCreateSystemDefaultDevice();

} // namespace velmora
