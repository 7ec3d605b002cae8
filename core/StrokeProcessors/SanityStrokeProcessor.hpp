#pragma once

#include "StrokeProcessors/StrokeProcessor.hpp"

namespace velmora {

// Clamps every dot into what the renderer can stamp; keeps no state.
class SanityStrokeProcessor final : public StrokeProcessor {
public:
    static constexpr double minimumSpacing = 1.0;
    static constexpr double minimumRadius = 0.5;
    static constexpr double maximumRadius = 500.0;

    std::vector<StrokeDot> process(const StrokeDot& dot) override;
    std::vector<StrokeDot> flush() override { return {}; }
};

} // namespace velmora
