#pragma once

#include "Rendering/Renderer.hpp"
#include "foundation/Timer.hpp"

#include <memory>

namespace velmora {

// The renderer of the application: once a second it logs the frames drawn in that
// second with the device's memory use, unless they were a whole multiple of 60.
class BenchmarkedRenderer final : public Renderer {
public:
    static std::shared_ptr<BenchmarkedRenderer> make(const std::shared_ptr<MTKView>& view,
                                                     std::shared_ptr<MTLDevice> device);
    ~BenchmarkedRenderer() override;

    void draw(MTKView& view) override;

    int64_t drawCount() const { return drawCount_; }
    const std::shared_ptr<Timer>& timer() const { return timer_; }
    // What the timer does each second.
    void tick();

protected:
    void didMake() override;

private:
    using Renderer::Renderer;

    int64_t drawCount_ = 0;
    std::shared_ptr<Timer> timer_;
};

} // namespace velmora
