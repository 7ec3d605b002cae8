#include "RawInputStabilizer/RawInputStabilizer.hpp"

#include "foundation/FatalError.hpp"
#include "foundation/Thread.hpp"

#include <algorithm>

namespace velmora {

RawInputStabilizer::RawInputStabilizer(std::size_t smoothing)
    : smoothing_(std::min(smoothing, SmoothedStroke::maximumSmoothing)),
      serialQueue_("Stabilizer Queue", DispatchQoS::userInteractive),
      stroke_(std::make_shared<SmoothedStroke>(smoothing_)) {
    if (!Thread::isMainThread()) {
        fatalError("Unsupported configuration");
    }
}

std::vector<RawPoint> RawInputStabilizer::append(const RawPoint& point) {
    return serialQueue_.sync([&] { return stroke_->append(point); });
}

void RawInputStabilizer::append(const RawPoint& point, Completion completion) {
    serialQueue_.async([stroke = stroke_, point, completion = std::move(completion)] {
        std::vector<RawPoint> ready = stroke->append(point);
        DispatchQueue::main().sync([&] { completion(std::move(ready)); });
    });
}

void RawInputStabilizer::closeStroke(Completion completion) {
    serialQueue_.async([stroke = stroke_, completion = std::move(completion)] {
        std::vector<RawPoint> ready = stroke->finish();
        DispatchQueue::main().sync([&] { completion(std::move(ready)); });
    });
}

std::vector<RawPoint> RawInputStabilizer::finishStroke() {
    return stroke_->finish();
}

} // namespace velmora
