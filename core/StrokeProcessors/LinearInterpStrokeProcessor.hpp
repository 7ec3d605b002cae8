#pragma once

#include "StrokeProcessors/StrokeProcessor.hpp"

#include <optional>

namespace velmora {

// Fills the gap between successive dots along straight lines, a whole spacing
// at a time; a gap shorter than that keeps growing from the same dot.
class LinearInterpStrokeProcessor final : public StrokeProcessor {
public:
    static constexpr int maximumDotsPerSegment = 1 << 16;

    std::vector<StrokeDot> process(const StrokeDot& dot) override;
    std::vector<StrokeDot> flush() override;

    const std::optional<StrokeDot>& lastDotInStroke() const { return lastDotInStroke_; }

private:
    std::optional<StrokeDot> lastDotInStroke_;
};

} // namespace velmora
