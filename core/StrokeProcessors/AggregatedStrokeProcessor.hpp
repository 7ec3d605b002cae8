#pragma once

#include "StrokeProcessors/StrokeProcessor.hpp"

#include <memory>
#include <vector>

namespace velmora {

// A chain of stages: each dot passes them in list order.
class AggregatedStrokeProcessor final : public StrokeProcessor {
public:
    explicit AggregatedStrokeProcessor(std::vector<std::unique_ptr<StrokeProcessor>> processors);

    std::vector<StrokeDot> process(const StrokeDot& dot) override;
    // What an earlier stage releases at the end still passes every later stage
    // before that stage is flushed.
    std::vector<StrokeDot> flush() override;

    const std::vector<std::unique_ptr<StrokeProcessor>>& processors() const { return processors_; }

private:
    std::vector<std::unique_ptr<StrokeProcessor>> processors_;
};

} // namespace velmora
