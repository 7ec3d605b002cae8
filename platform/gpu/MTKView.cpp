#include "gpu/MTKView.hpp"

#include "foundation/FatalError.hpp"
#include "foundation/Timer.hpp"
#include "gpu/MTKViewHost.hpp"

#include <cmath>

namespace velmora {

std::shared_ptr<MTKView> MTKView::make(std::shared_ptr<MTLDevice> device) {
    auto view = std::shared_ptr<MTKView>(new MTKView(std::move(device)));
    view->startClock();
    return view;
}

MTKView::MTKView(std::shared_ptr<MTLDevice> device) {
    setDevice(std::move(device));
}

MTKView::~MTKView() {
    if (clock_ != nullptr) {
        clock_->invalidate();
    }
}

void MTKView::setDevice(std::shared_ptr<MTLDevice> device) {
    device_ = std::move(device);
    presentQueue_ = device_ != nullptr ? device_->newCommandQueue() : nullptr;
    if (presentQueue_ != nullptr) {
        presentQueue_->setLabel("MTKView present queue");
    }
}

void MTKView::setPaused(bool paused) {
    if (paused == paused_) {
        return;
    }
    paused_ = paused;
    if (paused_) {
        stopClock();
    } else {
        startClock();
    }
}

void MTKView::setPreferredFramesPerSecond(int fps) {
    precondition(fps > 0, "Frame rate must be positive");
    preferredFramesPerSecond_ = fps;
    if (clock_ != nullptr) {
        stopClock();
        startClock();
    }
}

void MTKView::startClock() {
    if (paused_ || clock_ != nullptr) {
        return;
    }
    std::weak_ptr<MTKView> weakSelf = weak_from_this();
    clock_ = Timer::scheduledTimer(Timer::Interval(1.0 / preferredFramesPerSecond_), true,
                                   [weakSelf](Timer&) {
                                       if (auto self = weakSelf.lock()) {
                                           self->drawOnItsOwn();
                                       }
                                   });
}

void MTKView::stopClock() {
    if (clock_ != nullptr) {
        clock_->invalidate();
        clock_ = nullptr;
    }
}

void MTKView::setNeedsDisplay(bool needsDisplay) {
    needsDisplay_ = needsDisplay;
    if (!needsDisplay || !paused_ || !enableSetNeedsDisplay_ || displayPending_) {
        return;
    }
    displayPending_ = true;
    std::weak_ptr<MTKView> weakSelf = weak_from_this();
    DispatchQueue::main().async([weakSelf] {
        auto self = weakSelf.lock();
        if (self == nullptr) {
            return;
        }
        self->displayPending_ = false;
        // A frame that ran in between (the clock, an explicit draw) already served it.
        if (self->needsDisplay_) {
            self->drawOnItsOwn();
        }
    });
}

void MTKView::setDrawableSize(CGSize size) {
    if (size == drawableSize_) {
        return;
    }
    if (auto d = delegate()) {
        d->mtkView(*this, size);
    }
    drawableSize_ = size;
}

namespace {
// Whole pixels of a drawable side; none for an empty, negative or absurd size.
std::optional<int64_t> pixels(CGFloat v) {
    if (!(v >= 1.0) || !(v <= 16384.0)) {
        return std::nullopt;
    }
    return static_cast<int64_t>(v);
}
} // namespace

std::shared_ptr<CAMetalDrawable> MTKView::currentDrawable() {
    if (drawableAsked_) {
        return currentDrawable_;
    }
    drawableAsked_ = true;
    const auto w = pixels(drawableSize_.width), h = pixels(drawableSize_.height);
    if (device_ == nullptr || !w || !h) {
        return nullptr;
    }
    const int slot = ring_->acquire(device_, *w, *h, colorPixelFormat_, drawableTimeout_);
    if (slot < 0) {
        ++droppedFrames_;
        return nullptr;
    }
    currentDrawable_ =
        std::make_shared<CAMetalDrawable>(ring_, slot, nextDrawableID_++, host_, presentQueue_);
    return currentDrawable_;
}

std::optional<MTLRenderPassDescriptor> MTKView::currentRenderPassDescriptor() {
    const auto drawable = currentDrawable();
    if (drawable == nullptr) {
        return std::nullopt;
    }
    MTLRenderPassDescriptor descriptor;
    auto& attachment = descriptor.colorAttachments[0];
    attachment.texture = drawable->texture();
    attachment.loadAction = MTLLoadAction::clear;
    attachment.storeAction = MTLStoreAction::store;
    attachment.clearColor = clearColor_;
    return descriptor;
}

void MTKView::drawOnItsOwn() {
    struct Flag {
        bool& flag;
        ~Flag() { flag = false; }
    } flag{drawingOnItsOwn_};
    drawingOnItsOwn_ = true;
    draw();
}

void MTKView::draw() {
    needsDisplay_ = false;
    // The view lives through its own frame even when the delegate lets go of it.
    auto keepAlive = shared_from_this();
    if (auto d = delegate()) {
        d->draw(*this);
    }
    currentDrawable_ = nullptr;
    drawableAsked_ = false;
}

} // namespace velmora
