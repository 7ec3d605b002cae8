#include "foundation/Timer.hpp"

#include "foundation/DispatchQueue.hpp"
#include "foundation/WorkList.hpp"

namespace velmora {

namespace {
using Clock = std::chrono::steady_clock;
}

Timer::Timer(Interval interval, bool repeats, Block block)
    // A non-positive interval would spin; the platform takes a tenth of a millisecond.
    : interval_(interval > Interval::zero() ? interval : Interval(0.0001)), repeats_(repeats),
      block_(std::move(block)) {}

std::shared_ptr<Timer> Timer::scheduledTimer(Interval interval, bool repeats, Block block) {
    auto timer = std::make_shared<Timer>(interval, repeats, std::move(block));
    timer->fireDate_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(timer->interval_);
    timer->schedule();
    return timer;
}

void Timer::schedule() {
    pending_ =
        detail::mainQueueCore()->enqueue([self = shared_from_this()] { self->tick(); }, fireDate_);
}

void Timer::invalidate() {
    if (!valid_) {
        return;
    }
    valid_ = false;
    // Leave the main queue now rather than at the next tick; the block may own
    // what refers to this timer.
    detail::mainQueueCore()->cancel(pending_);
    block_ = nullptr;
}

void Timer::fire() {
    if (!valid_) {
        return;
    }
    // The block may let go of the last owner (rescheduling replaces the timer).
    const auto keep = weak_from_this().lock();
    Block block = block_;
    block(*this);
    if (!repeats_) {
        invalidate();
    }
}

void Timer::tick() {
    if (!valid_) {
        return;
    }
    fire();
    if (!valid_) {
        return;
    }
    const auto step = std::chrono::duration_cast<Clock::duration>(interval_);
    const auto now = Clock::now();
    fireDate_ += step;
    if (fireDate_ <= now) {
        fireDate_ += step * ((now - fireDate_) / step + 1);
    }
    schedule();
}

} // namespace velmora
