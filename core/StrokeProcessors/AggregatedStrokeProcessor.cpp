#include "StrokeProcessors/AggregatedStrokeProcessor.hpp"

namespace velmora {

namespace {

std::vector<StrokeDot> passThrough(StrokeProcessor& stage, const std::vector<StrokeDot>& dots) {
    std::vector<StrokeDot> out;
    for (const StrokeDot& dot : dots) {
        std::vector<StrokeDot> produced = stage.process(dot);
        out.insert(out.end(), produced.begin(), produced.end());
    }
    return out;
}

} // namespace

AggregatedStrokeProcessor::AggregatedStrokeProcessor(
    std::vector<std::unique_ptr<StrokeProcessor>> processors)
    : processors_(std::move(processors)) {}

std::vector<StrokeDot> AggregatedStrokeProcessor::process(const StrokeDot& dot) {
    std::vector<StrokeDot> dots{dot};
    for (const auto& stage : processors_) {
        if (dots.empty()) {
            break;
        }
        dots = passThrough(*stage, dots);
    }
    return dots;
}

std::vector<StrokeDot> AggregatedStrokeProcessor::flush() {
    std::vector<StrokeDot> dots;
    for (const auto& stage : processors_) {
        dots = passThrough(*stage, dots);
        std::vector<StrokeDot> released = stage->flush();
        dots.insert(dots.end(), released.begin(), released.end());
    }
    return dots;
}

} // namespace velmora
