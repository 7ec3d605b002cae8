#pragma once

#include "StrokeProcessors/StrokeProcessor.hpp"

namespace velmora {

// Fills the gap between successive dots with dots along a cubic curve whose end
// tangents follow the neighbouring dots. The segment ending at a dot is released
// when the dot after it arrives; the stroke's last segment, at the flush.
class BezierInterpStrokeProcessor final : public StrokeProcessor {
public:
    // A bound on the dots of one segment, whatever the input.
    static constexpr int maximumDotsPerSegment = 1 << 16;

    std::vector<StrokeDot> process(const StrokeDot& dot) override;
    std::vector<StrokeDot> flush() override;

    const std::vector<StrokeDot>& previousDots() const { return previousDots_; }

private:
    std::vector<StrokeDot> previousDots_;
};

} // namespace velmora
