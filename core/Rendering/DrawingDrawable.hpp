#pragma once

#include "Rendering/CanvasMipChain.hpp"
#include "Rendering/CanvasShaders.hpp"
#include "Rendering/DisplayViewModel.hpp"
#include "Rendering/Renderer.hpp"
#include "gpu/MTLCommandBuffer.hpp"
#include "gpu/MTLGeometry.hpp"
#include "gpu/MTLLibrary.hpp"
#include "gpu/MTLTexture.hpp"

#include <array>
#include <cstdint>
#include <memory>

namespace velmora {

// Draws a canvas texture into a view's render pass through the display transform:
// a quad of two triangles over the canvas, in canvas pixels. Main thread only.
class DrawingDrawable {
public:
    DrawingDrawable(Renderer::Settings settings, std::shared_ptr<DisplayViewModel> displayViewModel,
                    MTLSize resolution);
    DrawingDrawable(const DrawingDrawable&) = delete;
    DrawingDrawable& operator=(const DrawingDrawable&) = delete;

    const Renderer::Settings& settings() const { return settings_; }
    const std::shared_ptr<DisplayViewModel>& displayViewModel() const { return displayViewModel_; }
    const std::shared_ptr<MTLRenderPipelineState>& renderPipelineState() const {
        return renderPipelineState_;
    }
    const MTLSize& resolution() const { return resolution_; }
    int64_t drawCounter() const { return drawCounter_; }

    // Without a texture the pass is still encoded, empty, so the view is cleared. A
    // canvas shown at less than half its size is sampled from a halved copy made
    // first in the same command buffer. A texture already halved `textureLevel`
    // times is stretched over the whole canvas.
    void render(const std::shared_ptr<MTLTexture>& texture, MTLViewport viewport,
                const MTLRenderPassDescriptor& renderPassDescriptor,
                MTLCommandBuffer& commandBuffer, int textureLevel = 0);

    // The quad over a canvas of the given size, texture coordinate (0, 0) at canvas
    // pixel (0, 0).
    static std::array<Vertex, 6> quad(const MTLSize& resolution);

private:
    Renderer::Settings settings_;
    std::shared_ptr<DisplayViewModel> displayViewModel_;
    std::shared_ptr<MTLRenderPipelineState> renderPipelineState_;
    MTLSize resolution_;
    int64_t drawCounter_ = 0;
    CanvasMipChain levels_;
};

} // namespace velmora
