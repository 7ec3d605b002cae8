#include "Rendering/BenchmarkedRenderer.hpp"

#include "foundation/ByteCount.hpp"
#include "foundation/LogHandles.hpp"

namespace velmora {

std::shared_ptr<BenchmarkedRenderer> BenchmarkedRenderer::make(const std::shared_ptr<MTKView>& view,
                                                               std::shared_ptr<MTLDevice> device) {
    return makeRenderer(
        std::shared_ptr<BenchmarkedRenderer>(new BenchmarkedRenderer(view, std::move(device))));
}

void BenchmarkedRenderer::didMake() {
    Renderer::didMake();
    std::weak_ptr<BenchmarkedRenderer> weakSelf =
        std::static_pointer_cast<BenchmarkedRenderer>(shared_from_this());
    timer_ = Timer::scheduledTimer(Timer::Interval(1.0), true, [weakSelf](Timer&) {
        if (auto self = weakSelf.lock()) {
            self->tick();
        }
    });
}

BenchmarkedRenderer::~BenchmarkedRenderer() {
    if (timer_ != nullptr) {
        timer_->invalidate();
    }
}

void BenchmarkedRenderer::draw(MTKView& view) {
    const int64_t before = drawCounter();
    Renderer::draw(view);
    // A frame put off until the one in flight completes is counted when drawn.
    if (drawCounter() != before) {
        drawCount_ += 1;
    }
}

void BenchmarkedRenderer::tick() {
    // A window closed with a live scope still held leaves its renderer a while.
    if (viewIfAlive() == nullptr) {
        drawCount_ = 0;
        return;
    }
    if (drawCount_ % 60 != 0) {
        renderingStatisticsLogs().log("%d fps with %{public}@/%{public}@", drawCount_,
                                      formattedByteCount(device()->currentAllocatedSize()),
                                      formattedByteCount(device()->recommendedMaxWorkingSetSize()));
    }
    drawCount_ = 0;
}

} // namespace velmora
