#pragma once

#include "gpu/CAMetalDrawable.hpp"
#include "gpu/MTLCommandBuffer.hpp"
#include "gpu/MTLDevice.hpp"
#include "gpu/MTLPixelFormat.hpp"
#include "gpu/MTLRenderPassDescriptor.hpp"
#include "graphics/CGColorSpace.hpp"
#include "graphics/CGGeometry.hpp"

#include <chrono>
#include <memory>
#include <optional>

namespace velmora {

class MTKView;
class MTKViewHost;
class Timer;

class MTKViewDelegate {
public:
    virtual ~MTKViewDelegate() = default;
    virtual void mtkView(MTKView& view, CGSize drawableSizeWillChange) = 0;
    // One frame (the platform's drawInMTKView:).
    virtual void draw(MTKView& view) = 0;
};

// The GPU-backed view of a canvas. Main thread only. It draws on request while paused
// (setNeedsDisplay, coalesced into one frame on the main queue) and from a frame clock
// of `preferredFramesPerSecond` while running. Frames go into a ring of three
// drawables that come back once presented and no longer shown by the host: while all
// three are out, asking for a drawable waits a while and then gives none, so a lagging
// GPU or display holds frames back instead of letting them queue.
class MTKView : public std::enable_shared_from_this<MTKView> {
public:
    static std::shared_ptr<MTKView> make(std::shared_ptr<MTLDevice> device = nullptr);
    ~MTKView();
    MTKView(const MTKView&) = delete;
    MTKView& operator=(const MTKView&) = delete;

    const std::shared_ptr<MTLDevice>& device() const { return device_; }
    void setDevice(std::shared_ptr<MTLDevice> device);

    std::shared_ptr<MTKViewDelegate> delegate() const { return delegate_.lock(); }
    // Held weakly, like the platform's.
    void setDelegate(const std::shared_ptr<MTKViewDelegate>& delegate) { delegate_ = delegate; }

    std::shared_ptr<MTKViewHost> host() const { return host_.lock(); }
    void setHost(const std::shared_ptr<MTKViewHost>& host) { host_ = host; }

    bool isPaused() const { return paused_; }
    void setPaused(bool paused);
    bool enableSetNeedsDisplay() const { return enableSetNeedsDisplay_; }
    void setEnableSetNeedsDisplay(bool enable) { enableSetNeedsDisplay_ = enable; }
    bool needsDisplay() const { return needsDisplay_; }
    // Asks for one frame on the main queue; honoured while paused with
    // `enableSetNeedsDisplay`, as the platform does.
    void setNeedsDisplay(bool needsDisplay);

    int preferredFramesPerSecond() const { return preferredFramesPerSecond_; }
    void setPreferredFramesPerSecond(int fps);

    // Points; the host sets it on resize. Drawable pixels per point are
    // drawableSize / boundsSize.
    CGSize boundsSize() const { return boundsSize_; }
    void setBoundsSize(CGSize size) { boundsSize_ = size; }
    CGSize drawableSize() const { return drawableSize_; }
    // Tells the delegate, then applies; drawables of the old size are replaced as
    // they come back.
    void setDrawableSize(CGSize size);

    MTLClearColor clearColor() const { return clearColor_; }
    void setClearColor(MTLClearColor color) { clearColor_ = color; }
    const CGColorSpaceRef& colorspace() const { return colorspace_; }
    void setColorspace(CGColorSpaceRef space) { colorspace_ = std::move(space); }
    MTLPixelFormat colorPixelFormat() const { return colorPixelFormat_; }
    void setColorPixelFormat(MTLPixelFormat format) { colorPixelFormat_ = format; }
    bool presentsWithTransaction() const { return presentsWithTransaction_; }
    void setPresentsWithTransaction(bool v) { presentsWithTransaction_ = v; }

    // The drawable of the frame being drawn, taken from the ring on first ask; none
    // when every drawable is out or the drawable size is empty. Given up when the
    // frame's draw returns.
    std::shared_ptr<CAMetalDrawable> currentDrawable();
    // Clears the current drawable's texture to `clearColor`; none without a drawable.
    std::optional<MTLRenderPassDescriptor> currentRenderPassDescriptor();

    // Draws one frame now: the delegate's draw, then the current drawable is given up.
    void draw();
    // True while a frame the view started itself (its clock or a display request)
    // is drawn; false in a draw() called from outside.
    bool isDrawingOnItsOwn() const { return drawingOnItsOwn_; }

    // How long asking for a drawable waits for the host or the GPU to give one back
    // while all are out (the platform waits one second).
    std::chrono::nanoseconds drawableTimeout() const { return drawableTimeout_; }
    void setDrawableTimeout(std::chrono::nanoseconds timeout) { drawableTimeout_ = timeout; }

    // Frames that found no drawable.
    uint64_t droppedFrameCount() const { return droppedFrames_; }
    size_t drawablesInUse() const { return ring_->busyCount(); }

private:
    explicit MTKView(std::shared_ptr<MTLDevice> device);
    void startClock();
    void stopClock();
    void drawOnItsOwn();

    std::shared_ptr<MTLDevice> device_;
    std::shared_ptr<MTLCommandQueue> presentQueue_;
    std::weak_ptr<MTKViewDelegate> delegate_;
    std::weak_ptr<MTKViewHost> host_;
    std::shared_ptr<detail::DrawableRing> ring_ = std::make_shared<detail::DrawableRing>();
    bool paused_ = false;
    bool enableSetNeedsDisplay_ = false;
    bool needsDisplay_ = false;
    bool displayPending_ = false;
    bool drawingOnItsOwn_ = false;
    int preferredFramesPerSecond_ = 60;
    CGSize boundsSize_{};
    CGSize drawableSize_{};
    MTLClearColor clearColor_{0, 0, 0, 1};
    CGColorSpaceRef colorspace_;
    MTLPixelFormat colorPixelFormat_ = MTLPixelFormat::bgra8Unorm;
    bool presentsWithTransaction_ = false;
    std::shared_ptr<CAMetalDrawable> currentDrawable_;
    bool drawableAsked_ = false;
    uint64_t nextDrawableID_ = 1;
    uint64_t droppedFrames_ = 0;
    std::chrono::nanoseconds drawableTimeout_ = std::chrono::seconds(1);
    std::shared_ptr<Timer> clock_;
};

} // namespace velmora
