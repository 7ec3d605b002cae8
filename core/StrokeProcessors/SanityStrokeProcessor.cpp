#include "StrokeProcessors/SanityStrokeProcessor.hpp"

#include "SKTUtils/CGFloatExtensions.hpp"

#include <cmath>

namespace velmora {

namespace {

// A NaN would pass the clamp unchanged; it takes the lower bound.
double clampedOrLow(double v, double low, double high) {
    return std::isnan(v) ? low : clamped(v, low, high);
}

} // namespace

std::vector<StrokeDot> SanityStrokeProcessor::process(const StrokeDot& dot) {
    StrokeDot out = dot;
    out.spacing =
        std::isnan(dot.spacing) || dot.spacing < minimumSpacing ? minimumSpacing : dot.spacing;
    out.radius = clampedOrLow(dot.radius, minimumRadius, maximumRadius);
    out.hardness = clampedOrLow(dot.hardness, 0, 1);
    out.opacity = clampedOrLow(dot.opacity, 0, 1);
    return {out};
}

} // namespace velmora
