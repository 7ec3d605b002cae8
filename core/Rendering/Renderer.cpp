#include "Rendering/Renderer.hpp"

#include "MetalExtensions/ShaderValueConversions.hpp"
#include "foundation/DispatchQueue.hpp"
#include "foundation/FatalError.hpp"
#include "foundation/LogHandles.hpp"
#include "graphics/ColorManagement.hpp"
#include "graphics/NSColor.hpp"

#include <algorithm>
#include <string>

namespace velmora {

namespace {
// The light appearance's window background, behind the canvas.
NSColorRef windowBackgroundColor() {
    return NSColor::colorWithSRGBRed(236.0 / 255.0, 236.0 / 255.0, 236.0 / 255.0, 1.0);
}
} // namespace

std::shared_ptr<Renderer> Renderer::make(const std::shared_ptr<MTKView>& view,
                                         std::shared_ptr<MTLDevice> device) {
    return makeRenderer(std::shared_ptr<Renderer>(new Renderer(view, std::move(device))));
}

Renderer::Renderer(const std::shared_ptr<MTKView>& view, std::shared_ptr<MTLDevice> device)
    : metalView_(view), device_(std::move(device)) {
    precondition(view != nullptr && device_ != nullptr, "Renderer without a view or a device");
    renderingStatisticsLogs().log("Creating Renderer with device %{public}@", device_->name());
    const auto background =
        windowBackgroundColor()->colorUsingColorSpace(ColorManagement::workingNSColorSpace());
    if (background == nullptr) {
        fatalError("Internal inconcistency");
    }
    view->setDevice(device_);
    view->setClearColor(mtlClearColor(*background));
    view->setColorspace(ColorManagement::workingColorSpace());
    view->setPaused(true);
    view->setEnableSetNeedsDisplay(true);
    commandQueue_ = device_->newCommandQueue();
    if (commandQueue_ == nullptr) {
        fatalError("Internal inconcistency");
    }
}

void Renderer::didMake() {
    const auto view = liveView();
    mtkView(*view, view->drawableSize());
    view->setDelegate(shared_from_this());
    view->setPresentsWithTransaction(true);
}

std::shared_ptr<MTKView> Renderer::liveView() const {
    auto view = metalView_.lock();
    if (view == nullptr) {
        fatalError("Renderer used after its view was released");
    }
    return view;
}

Renderer::Settings Renderer::settings() const {
    return {device_, liveView()->colorPixelFormat()};
}

void Renderer::needsDisplay() {
    const auto view = liveView();
    if (view->isPaused()) {
        view->setNeedsDisplay(true);
    }
}

void Renderer::mtkView(MTKView&, CGSize) {
    needsDisplay();
}

bool Renderer::isLiveRendering() const {
    return !liveView()->isPaused();
}

std::shared_ptr<Renderer::LiveScope> Renderer::makeLiveScope() {
    const auto view = liveView();
    auto scope = std::shared_ptr<LiveScope>(new LiveScope(shared_from_this()));
    activeLiveRenderingCount_ += 1;
    view->setPaused(false);
    if (activeLiveRenderingCount_ == 1) {
        renderingStatisticsLogs().log("Renderer entered live mode");
    }
    return scope;
}

Renderer::LiveScope::~LiveScope() {
    renderer_->closeLiveScope();
}

void Renderer::closeLiveScope() {
    precondition(activeLiveRenderingCount_ >= 1, "Live scope closed more often than opened");
    activeLiveRenderingCount_ -= 1;
    // A window closed in the middle of a stroke takes its view first; the count
    // still has to come down, and there is nothing left to pause.
    const auto view = metalView_.lock();
    if (activeLiveRenderingCount_ == 0 && view != nullptr) {
        view->setPaused(true);
        renderingStatisticsLogs().log("Renderer exited live mode");
    }
}

void Renderer::frameDidComplete(int64_t number) {
    completedFrame_ = std::max(completedFrame_, number);
    if (!frameDeferred_ || completedFrame_ < committedFrame_) {
        return;
    }
    frameDeferred_ = false;
    if (const auto view = metalView_.lock()) {
        view->draw();
    }
}

void Renderer::draw(MTKView&) {
    const auto view = liveView();
    if (view->isDrawingOnItsOwn() && completedFrame_ < committedFrame_) {
        frameDeferred_ = true;
        return;
    }
    frameDeferred_ = false;
    drawCounter_ += 1;
    const std::string number = std::to_string(drawCounter_);
    // Objects registered during this frame first run in the next one.
    const auto frameComputables = computables;
    const auto frameDrawables = drawables;

    const auto computeBuffer = commandQueue_->commandBuffer();
    if (computeBuffer == nullptr) {
        fatalError("Internal inconcistency");
    }
    computeBuffer->setLabel("Compute CB #" + number);
    const CGSize size = view->drawableSize();
    for (const auto& entry : frameComputables) {
        if (const auto computable = entry.base.lock()) {
            computable->compute(computeBuffer);
        }
    }
    computeBuffer->addCompletedHandler(
        [weak = weak_from_this(), number = drawCounter_](MTLCommandBuffer&) {
            DispatchQueue::main().async([weak, number] {
                if (const auto self = weak.lock()) {
                    self->frameDidComplete(number);
                }
            });
        });
    committedFrame_ = drawCounter_;
    computeBuffer->commit();

    const auto renderBuffer = commandQueue_->commandBuffer();
    if (renderBuffer == nullptr) {
        fatalError("Internal inconcistency");
    }
    renderBuffer->setLabel("Render CB #" + number);
    const MTLViewport viewport{0, 0, size.width, size.height, -1.0, 1.0};
    if (const auto descriptor = view->currentRenderPassDescriptor()) {
        for (const auto& entry : frameDrawables) {
            if (const auto drawable = entry.base.lock()) {
                drawable->render(viewport, *descriptor, renderBuffer);
            }
        }
    }
    const auto drawable = view->currentDrawable();
    if (drawable == nullptr) {
        return;
    }
    renderBuffer->commit();
    renderBuffer->waitUntilScheduled();
    drawable->present();
}

} // namespace velmora
