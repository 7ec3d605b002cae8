#pragma once

#include "RawInputStabilizer/RawPoint.hpp"
#include "RawInputStabilizer/SmoothedStroke.hpp"
#include "foundation/DispatchQueue.hpp"

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

namespace velmora {

// Smooths the samples of one stroke after another on a serial queue of its own
// and hands the finished points back on the main queue, in call order.
class RawInputStabilizer {
public:
    using Completion = std::function<void(std::vector<RawPoint>)>;

    // Must be made on the main thread. Strengths above 50 smooth as 50.
    explicit RawInputStabilizer(std::size_t smoothing);

    std::size_t smoothing() const { return smoothing_; }

    // Waits for the queue; never call it on the main thread while
    // asynchronous work is outstanding, since that work waits for the main thread.
    std::vector<RawPoint> append(const RawPoint& point);
    // The completion runs on the main thread for every point, also with no points.
    void append(const RawPoint& point, Completion completion);
    // Hands back every point not yet handed back and starts the next stroke.
    void closeStroke(Completion completion);
    // The close, run on the calling thread.
    std::vector<RawPoint> finishStroke();

private:
    std::size_t smoothing_;
    DispatchQueue serialQueue_;
    // Shared with queued work items, which keep it alive until they have run.
    std::shared_ptr<SmoothedStroke> stroke_;
};

} // namespace velmora
