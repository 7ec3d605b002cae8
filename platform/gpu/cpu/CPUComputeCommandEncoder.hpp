#pragma once

#include "gpu/MTLComputeCommandEncoder.hpp"
#include "gpu/cpu/CPUEncoder.hpp"
#include "gpu/cpu/ShaderFunctions.hpp"

namespace velmora::cpu {

class CPUComputeCommandEncoder final : public CPUEncoder<MTLComputeCommandEncoder> {
public:
    explicit CPUComputeCommandEncoder(std::shared_ptr<CPUCommandBuffer> buffer)
        : CPUEncoder(std::move(buffer), MTLCommandTraceEntry::Kind::computeEncoder) {}

    void setComputePipelineState(std::shared_ptr<MTLComputePipelineState> state) override;
    void setTexture(std::shared_ptr<MTLTexture> texture, uint64_t index) override;
    void setBytes(const void* bytes, size_t length, uint64_t index) override;
    void setBuffer(std::shared_ptr<MTLBuffer> buffer, int64_t offset, uint64_t index) override;
    void dispatchThreadgroups(MTLSize threadgroupsPerGrid, MTLSize threadsPerThreadgroup) override;

private:
    std::shared_ptr<MTLComputePipelineState> pipeline_;
    ArgumentTable table_;
};

// Runs a kernel over its domain in fixed row bands on the workers.
void runComputeKernel(const ComputeKernel& kernel, const ComputeArguments& arguments);

} // namespace velmora::cpu
