#include "MetalExtensions/MTLCommandBufferExtensions.hpp"

#include "foundation/CheckedMath.hpp"
#include "foundation/FatalError.hpp"

namespace velmora {

namespace {
template <class Encoder, class Body>
void encode(const std::shared_ptr<Encoder>& encoder, const std::optional<std::string>& label,
            const Body& body) {
    precondition(encoder != nullptr);
    if (label) {
        encoder->setLabel(*label);
    }
    body(*encoder);
    encoder->endEncoding();
}
} // namespace

void blit(MTLCommandBuffer& commandBuffer, const std::optional<std::string>& label,
          const std::function<void(MTLBlitCommandEncoder&)>& body) {
    encode(commandBuffer.blitCommandEncoder(), label, body);
}

void compute(MTLCommandBuffer& commandBuffer, const std::optional<std::string>& label,
             const std::function<void(MTLComputeCommandEncoder&)>& body) {
    encode(commandBuffer.computeCommandEncoder(), label, body);
}

void render(MTLCommandBuffer& commandBuffer, const MTLRenderPassDescriptor& descriptor,
            const std::optional<std::string>& label,
            const std::function<void(MTLRenderCommandEncoder&)>& body) {
    encode(commandBuffer.renderCommandEncoder(descriptor), label, body);
}

void dispatchThreadgroupsForWorkingOn(MTLComputeCommandEncoder& encoder, const MTLSize& size) {
    const int64_t groupsWide = checked::add<int64_t>(size.width, 15) / 16;
    const int64_t groupsHigh = checked::add<int64_t>(size.height, 15) / 16;
    encoder.dispatchThreadgroups({groupsWide, groupsHigh, 1}, {16, 16, 1});
}

void dispatchThreadgroupsForWorkingOn(MTLComputeCommandEncoder& encoder,
                                      const MTLTexture& texture) {
    dispatchThreadgroupsForWorkingOn(encoder, MTLSize{texture.width(), texture.height(), 1});
}

} // namespace velmora
