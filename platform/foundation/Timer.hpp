#pragma once

#include "foundation/DispatchQueue.hpp"

#include <chrono>
#include <functional>
#include <memory>

namespace velmora {

// A timer on the main queue. While scheduled the main queue keeps it alive, so
// a repeating timer runs until `invalidate()`; its block should refer to its
// owner weakly. A repeating timer keeps its rhythm: ticks missed while the main
// thread was busy are skipped, not run in a burst.
class Timer : public std::enable_shared_from_this<Timer> {
public:
    using Interval = std::chrono::duration<double>;
    using Block = std::function<void(Timer&)>;

    static std::shared_ptr<Timer> scheduledTimer(Interval interval, bool repeats, Block block);

    // Main thread only. Stops the timer for good; a tick already due does not run.
    void invalidate();
    bool isValid() const { return valid_; }

    Interval timeInterval() const { return interval_; }
    bool repeats() const { return repeats_; }

    // Runs the block now; a repeating timer keeps its schedule, a one-shot one
    // is then invalidated.
    void fire();

    Timer(Interval interval, bool repeats, Block block);

private:
    void schedule();
    void tick();

    Interval interval_;
    bool repeats_;
    Block block_;
    bool valid_ = true;
    std::chrono::steady_clock::time_point fireDate_;
    detail::WorkID pending_;
};

} // namespace velmora
