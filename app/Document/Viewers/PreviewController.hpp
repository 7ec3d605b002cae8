#pragma once

#include "Canvas/PreviewCanvas.hpp"
#include "Rendering/DrawingDrawable.hpp"
#include "Rendering/Renderer.hpp"
#include "Rendering/RendererDrawable.hpp"

#include <memory>

namespace velmora {

// Binds a flat preview canvas to the renderer of a view as its one drawable:
// each frame draws the canvas's texture under the display transform. Owns the
// renderer; the canvas belongs to the document's content. Main thread only.
class PreviewController : public RendererDrawable,
                          public std::enable_shared_from_this<PreviewController> {
public:
    static std::shared_ptr<PreviewController>
    make(std::shared_ptr<Renderer> renderer, std::shared_ptr<DisplayViewModel> displayViewModel,
         const std::shared_ptr<PreviewCanvas>& canvas);

    const std::shared_ptr<Renderer>& renderer() const { return renderer_; }
    const DrawingDrawable& drawable() const { return drawable_; }
    // None once the document has let its content go.
    std::shared_ptr<PreviewCanvas> canvas() const { return canvas_.lock(); }

    // A canvas that has gone draws nothing: the view is only cleared, so no
    // stale picture stays on screen.
    void render(MTLViewport viewport, const MTLRenderPassDescriptor& renderPassDescriptor,
                const std::shared_ptr<MTLCommandBuffer>& commandBuffer) override;

private:
    PreviewController(std::shared_ptr<Renderer> renderer,
                      std::shared_ptr<DisplayViewModel> displayViewModel,
                      const std::shared_ptr<PreviewCanvas>& canvas);

    DrawingDrawable drawable_;
    std::weak_ptr<PreviewCanvas> canvas_;
    std::shared_ptr<Renderer> renderer_;
};

} // namespace velmora
