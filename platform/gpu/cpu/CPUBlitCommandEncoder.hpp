#pragma once

#include "gpu/MTLBlitCommandEncoder.hpp"
#include "gpu/cpu/CPUEncoder.hpp"

namespace velmora::cpu {

class CPUBlitCommandEncoder final : public CPUEncoder<MTLBlitCommandEncoder> {
public:
    explicit CPUBlitCommandEncoder(std::shared_ptr<CPUCommandBuffer> buffer)
        : CPUEncoder(std::move(buffer), MTLCommandTraceEntry::Kind::blitEncoder) {}

    void copyFromTexture(std::shared_ptr<MTLTexture> source, int64_t sourceSlice,
                         int64_t sourceLevel, MTLOrigin sourceOrigin, MTLSize sourceSize,
                         std::shared_ptr<MTLTexture> destination, int64_t destinationSlice,
                         int64_t destinationLevel, MTLOrigin destinationOrigin) override;
    void copyFromTexture(std::shared_ptr<MTLTexture> source,
                         std::shared_ptr<MTLTexture> destination) override;
    void synchronizeResource(std::shared_ptr<MTLResource> resource) override;
    void fillBuffer(std::shared_ptr<MTLBuffer> buffer, NSRange range, uint8_t value) override;
};

} // namespace velmora::cpu
