#pragma once

#include "gpu/MTLDevice.hpp"
#include "gpu/cpu/Timeline.hpp"

#include <atomic>
#include <memory>

namespace velmora::cpu {

// The device that runs GPU work on the host's cores.
class CPUDevice final : public MTLDevice, public std::enable_shared_from_this<CPUDevice> {
public:
    CPUDevice();

    std::string name() const override;
    uint64_t currentAllocatedSize() const override;
    uint64_t recommendedMaxWorkingSetSize() const override;

    std::shared_ptr<MTLTexture> newTexture(const MTLTextureDescriptor& descriptor) override;
    std::shared_ptr<MTLBuffer> newBuffer(int64_t length, MTLResourceOptions options) override;
    std::shared_ptr<MTLBuffer> newBuffer(const void* bytes, int64_t length,
                                         MTLResourceOptions options) override;
    std::shared_ptr<MTLCommandQueue> newCommandQueue() override;
    std::shared_ptr<MTLLibrary> newDefaultLibrary() override;
    std::shared_ptr<MTLComputePipelineState>
    newComputePipelineState(std::shared_ptr<MTLFunction> function) override;
    std::shared_ptr<MTLRenderPipelineState>
    newRenderPipelineState(const MTLRenderPipelineDescriptor& descriptor) override;

    void setSynchronousCommandExecution(bool synchronous) override;
    bool synchronousCommandExecution() const override;

    Timeline& timeline() { return timeline_; }
    void noteAllocation(int64_t bytes) { allocated_.fetch_add(bytes); }

private:
    Timeline timeline_;
    std::atomic<int64_t> allocated_{0};
};

} // namespace velmora::cpu
