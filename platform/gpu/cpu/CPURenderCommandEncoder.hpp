#pragma once

#include "gpu/MTLRenderCommandEncoder.hpp"
#include "gpu/MTLRenderPassDescriptor.hpp"
#include "gpu/cpu/CPUEncoder.hpp"
#include "gpu/cpu/ShaderFunctions.hpp"

#include <vector>

namespace velmora::cpu {

struct DrawCall {
    std::shared_ptr<MTLRenderPipelineState> pipeline;
    MTLViewport viewport;
    ArgumentTable vertexArguments;
    ArgumentTable fragmentArguments;
    uint64_t vertexStart = 0;
    uint64_t vertexCount = 0;
};

// A pass is one command: the load action, then every draw in order.
class CPURenderCommandEncoder final : public CPUEncoder<MTLRenderCommandEncoder> {
public:
    CPURenderCommandEncoder(std::shared_ptr<CPUCommandBuffer> buffer,
                            const MTLRenderPassDescriptor& descriptor);

    void setViewport(MTLViewport viewport) override;
    void setRenderPipelineState(std::shared_ptr<MTLRenderPipelineState> state) override;
    void setVertexBytes(const void* bytes, size_t length, uint64_t index) override;
    void setVertexBuffer(std::shared_ptr<MTLBuffer> buffer, int64_t offset,
                         uint64_t index) override;
    void setFragmentBytes(const void* bytes, size_t length, uint64_t index) override;
    void setFragmentBuffer(std::shared_ptr<MTLBuffer> buffer, int64_t offset,
                           uint64_t index) override;
    void setFragmentTexture(std::shared_ptr<MTLTexture> texture, uint64_t index) override;
    void drawPrimitives(MTLPrimitiveType type, uint64_t vertexStart, uint64_t vertexCount) override;

private:
    void finish() override;

    MTLRenderPassColorAttachmentDescriptor attachment_;
    MTLViewport viewport_;
    std::shared_ptr<MTLRenderPipelineState> pipeline_;
    ArgumentTable vertexArguments_;
    ArgumentTable fragmentArguments_;
    std::vector<DrawCall> draws_;
};

// Rasterises the triangles of one draw into the attachment. With `clearPixel` (one
// pixel in the attachment's format), every row is first set to it, in the same pass,
// so each row is written while it is in the cache instead of once more beforehand.
// With `changedTexels` (of the texture the fragment function says it reads), only the
// rows whose fragments can read one of them are drawn, each exactly as in a whole
// pass; the others are left as they are.
void rasterize(const DrawCall& draw, MTLTexture& attachment, const uint8_t* clearPixel = nullptr,
               const MTLRegion* changedTexels = nullptr);

} // namespace velmora::cpu
