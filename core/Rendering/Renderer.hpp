#pragma once

#include "Rendering/RendererComputable.hpp"
#include "Rendering/RendererDrawable.hpp"
#include "gpu/MTKView.hpp"
#include "gpu/MTLDevice.hpp"
#include "gpu/MTLPixelFormat.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace velmora {

// Drives the frames of one view: each frame runs the live computables in one command
// buffer, then the live drawables into the view's render pass in a second one. The
// view is paused and draws on request, except while live scopes are open. A frame the
// view starts itself while the last one's compute work is still running waits for it
// and is drawn then, once for every request made meanwhile: changes arriving during a
// long composite share the next frame instead of queueing a composite each. Main
// thread only. Holds its view, computables and drawables weakly.
class Renderer : public MTKViewDelegate, public std::enable_shared_from_this<Renderer> {
public:
    struct Settings {
        std::shared_ptr<MTLDevice> device;
        MTLPixelFormat colorPixelFormat = MTLPixelFormat::invalid;
        friend bool operator==(const Settings&, const Settings&) = default;
    };

    struct WeakComputable {
        explicit WeakComputable(const std::shared_ptr<RendererComputable>& computable)
            : base(computable) {}
        std::weak_ptr<RendererComputable> base;
    };
    struct WeakDrawable {
        explicit WeakDrawable(const std::shared_ptr<RendererDrawable>& drawable) : base(drawable) {}
        std::weak_ptr<RendererDrawable> base;
    };

    // Keeps the view running while it exists; also keeps its renderer alive.
    class LiveScope {
    public:
        ~LiveScope();
        LiveScope(const LiveScope&) = delete;
        LiveScope& operator=(const LiveScope&) = delete;
        const std::shared_ptr<Renderer>& renderer() const { return renderer_; }

    private:
        friend class Renderer;
        explicit LiveScope(std::shared_ptr<Renderer> renderer) : renderer_(std::move(renderer)) {}
        std::shared_ptr<Renderer> renderer_;
    };

    // Sets up the view (paused, redrawn on request, presenting with transactions) and
    // becomes its delegate.
    static std::shared_ptr<Renderer> make(const std::shared_ptr<MTKView>& view,
                                          std::shared_ptr<MTLDevice> device);
    ~Renderer() override = default;
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    Settings settings() const;
    const std::shared_ptr<MTLDevice>& device() const { return device_; }
    int64_t drawCounter() const { return drawCounter_; }
    int64_t activeLiveRenderingCount() const { return activeLiveRenderingCount_; }

    // Entries whose object has gone stay and are skipped.
    std::vector<WeakComputable> computables;
    std::vector<WeakDrawable> drawables;

    // One frame: marks a paused view for display; nothing while live.
    void needsDisplay();
    std::shared_ptr<LiveScope> makeLiveScope();
    bool isLiveRendering() const;

    void draw(MTKView& view) override;
    void mtkView(MTKView& view, CGSize drawableSizeWillChange) override;

protected:
    Renderer(const std::shared_ptr<MTKView>& view, std::shared_ptr<MTLDevice> device);
    // The parts of set-up that need the renderer to be owned.
    virtual void didMake();
    std::shared_ptr<MTKView> liveView() const;
    // None once the view is gone.
    std::shared_ptr<MTKView> viewIfAlive() const { return metalView_.lock(); }

private:
    void closeLiveScope();
    // On the main queue once frame `number`'s compute work has run.
    void frameDidComplete(int64_t number);

    std::weak_ptr<MTKView> metalView_;
    std::shared_ptr<MTLDevice> device_;
    std::shared_ptr<MTLCommandQueue> commandQueue_;
    int64_t drawCounter_ = 0;
    int64_t activeLiveRenderingCount_ = 0;
    // The last frame whose compute work was committed, and the last seen completed.
    int64_t committedFrame_ = 0, completedFrame_ = 0;
    // A frame the view asked for while one was in flight, drawn once it completes.
    bool frameDeferred_ = false;

    template <class R> friend std::shared_ptr<R> makeRenderer(std::shared_ptr<R> renderer);
};

template <class R> std::shared_ptr<R> makeRenderer(std::shared_ptr<R> renderer) {
    static_cast<Renderer&>(*renderer).didMake();
    return renderer;
}

} // namespace velmora
