#include "Document/Viewers/PreviewController.hpp"

namespace velmora {

PreviewController::PreviewController(std::shared_ptr<Renderer> renderer,
                                     std::shared_ptr<DisplayViewModel> displayViewModel,
                                     const std::shared_ptr<PreviewCanvas>& canvas)
    : drawable_(renderer->settings(), std::move(displayViewModel), canvas->size()), canvas_(canvas),
      renderer_(std::move(renderer)) {}

std::shared_ptr<PreviewController>
PreviewController::make(std::shared_ptr<Renderer> renderer,
                        std::shared_ptr<DisplayViewModel> displayViewModel,
                        const std::shared_ptr<PreviewCanvas>& canvas) {
    std::shared_ptr<PreviewController> controller(
        new PreviewController(std::move(renderer), std::move(displayViewModel), canvas));
    // The renderer holds it weakly: the view controller is its owner.
    controller->renderer_->drawables.emplace_back(
        std::static_pointer_cast<RendererDrawable>(controller));
    return controller;
}

void PreviewController::render(MTLViewport viewport,
                               const MTLRenderPassDescriptor& renderPassDescriptor,
                               const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    const auto shown = canvas_.lock();
    drawable_.render(shown ? shown->texture() : nullptr, viewport, renderPassDescriptor,
                     *commandBuffer);
}

} // namespace velmora
