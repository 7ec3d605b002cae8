#pragma once

#include <memory>

namespace velmora {

class CAMetalDrawable;

// What shows a view's frames: an offscreen keeper for tests and benchmarks, or the
// window of the application's canvas view.
class MTKViewHost {
public:
    virtual ~MTKViewHost() = default;

    // A presented frame whose GPU work has completed: its texture holds the picture,
    // row 0 at the top. Called on the device's timeline (in the synchronous test mode,
    // on the thread that presented), one frame at a time in presentation order: copy
    // or post, never wait for the main thread here. The drawable stays out of the
    // view's ring while the host holds it, so a host keeps at most the frame it shows.
    virtual void displayDrawable(std::shared_ptr<CAMetalDrawable> drawable) = 0;
};

} // namespace velmora
