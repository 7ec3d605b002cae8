#include "Rendering/DrawingDrawable.hpp"

#include "Extensions/CGAffineTransformExtensions.hpp"
#include "MetalExtensions/MTLCommandBufferExtensions.hpp"
#include "MetalExtensions/ShaderValueConversions.hpp"
#include "foundation/CheckedMath.hpp"
#include "foundation/FatalError.hpp"
#include "gpu/MTLDevice.hpp"
#include "gpu/MTLError.hpp"
#include "gpu/SIMD.hpp"

#include <string>

namespace velmora {

DrawingDrawable::DrawingDrawable(Renderer::Settings settings,
                                 std::shared_ptr<DisplayViewModel> displayViewModel,
                                 MTLSize resolution)
    : settings_(std::move(settings)), displayViewModel_(std::move(displayViewModel)),
      resolution_(resolution), levels_(settings_.device) {
    precondition(settings_.device != nullptr && displayViewModel_ != nullptr,
                 "DrawingDrawable without a device or a display view model");
    registerCanvasShaders();
    const auto library = settings_.device->newDefaultLibrary();
    if (library == nullptr) {
        fatalError("No default shader library");
    }
    MTLRenderPipelineDescriptor descriptor;
    descriptor.label = "DrawingDrawable pipeline";
    descriptor.colorAttachments[0].pixelFormat = settings_.colorPixelFormat;
    descriptor.vertexFunction = library->newFunction("vertexFunc");
    descriptor.fragmentFunction = library->newFunction("fragmentFunc");
    try {
        renderPipelineState_ = settings_.device->newRenderPipelineState(descriptor);
    } catch (const MTLError& error) {
        fatalError(std::string("Cannot make the canvas pipeline: ") + error.what());
    }
    if (renderPipelineState_ == nullptr) {
        fatalError("Cannot make the canvas pipeline");
    }
}

std::array<Vertex, 6> DrawingDrawable::quad(const MTLSize& resolution) {
    const float w = static_cast<float>(resolution.width);
    const float h = static_cast<float>(resolution.height);
    return {{
        {{w, h}, {1, 1}},
        {{0, h}, {0, 1}},
        {{0, 0}, {0, 0}},
        {{w, h}, {1, 1}},
        {{0, 0}, {0, 0}},
        {{w, 0}, {1, 0}},
    }};
}

void DrawingDrawable::render(const std::shared_ptr<MTLTexture>& texture, MTLViewport viewport,
                             const MTLRenderPassDescriptor& renderPassDescriptor,
                             MTLCommandBuffer& commandBuffer, int textureLevel) {
    drawCounter_ += 1;
    if (texture == nullptr) {
        velmora::render(commandBuffer, renderPassDescriptor, "Empty rendering with no layer",
                        [](MTLRenderCommandEncoder&) {});
        return;
    }
    const auto vertices = quad(resolution_);
    const SIMD2<int32_t> viewportSize{checked::toInteger<int32_t>(std::trunc(viewport.width)),
                                      checked::toInteger<int32_t>(std::trunc(viewport.height))};
    const simd_float3x3 matrix = simdFloat3x3(displayViewModel_->transform());
    const CGFloat scale = scaling(displayViewModel_->transform()).dx;
    const uint8_t magnified = scale > 4.0 ? 1 : 0;
    std::shared_ptr<MTLTexture> sampled = texture;
    if (const int level = CanvasMipChain::levelFor(1.0 / scale / double(1 << textureLevel));
        level > 0) {
        if (auto reduced = levels_.encodeLevel(texture, level, commandBuffer)) {
            sampled = std::move(reduced);
        }
    }
    velmora::render(commandBuffer, renderPassDescriptor,
                    "Canvas render encoder #" + std::to_string(drawCounter_),
                    [&](MTLRenderCommandEncoder& encoder) {
                        encoder.setViewport(viewport);
                        encoder.setRenderPipelineState(renderPipelineState_);
                        encoder.setVertexBytes(vertices.data(), sizeof(vertices), 0);
                        encoder.setVertexBytes(&viewportSize, sizeof(viewportSize), 1);
                        encoder.setVertexBytes(&matrix, sizeof(matrix), 2);
                        encoder.setFragmentTexture(sampled, 1);
                        encoder.setFragmentBytes(&magnified, sizeof(magnified), 0);
                        encoder.drawPrimitives(MTLPrimitiveType::triangle, 0, 6);
                    });
}

} // namespace velmora
