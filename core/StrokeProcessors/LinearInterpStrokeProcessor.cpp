#include "StrokeProcessors/LinearInterpStrokeProcessor.hpp"

#include <cmath>

namespace velmora {

namespace {

double lerp(double a, double b, double t) {
    return a + t * (b - a);
}

std::vector<StrokeDot> segment(const StrokeDot& from, const StrokeDot& to) {
    const CGPoint a = from.position, b = to.position;
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double distance = std::hypot(dx, dy);
    const double quotient = distance / to.spacing;
    if (!(quotient >= 1)) { // also NaN
        return {};
    }
    const int count = quotient > LinearInterpStrokeProcessor::maximumDotsPerSegment
                          ? LinearInterpStrokeProcessor::maximumDotsPerSegment
                          : int(quotient);
    const double stepLength = (to.spacing + from.spacing) * 0.5;
    const double ux = distance > 0 ? dx / distance : 0, uy = distance > 0 ? dy / distance : 0;
    const CGPoint end{a.x + ux * stepLength * count, a.y + uy * stepLength * count};
    std::vector<StrokeDot> dots;
    dots.reserve(size_t(count));
    for (int i = 1; i <= count; ++i) {
        const double t = double(i) / count;
        dots.push_back({{a.x + (end.x - a.x) * t, a.y + (end.y - a.y) * t},
                        lerp(from.spacing, to.spacing, t),
                        lerp(from.radius, to.radius, t),
                        lerp(from.hardness, to.hardness, t),
                        lerp(from.opacity, to.opacity, t)});
    }
    return dots;
}

} // namespace

std::vector<StrokeDot> LinearInterpStrokeProcessor::process(const StrokeDot& dot) {
    if (!lastDotInStroke_) {
        lastDotInStroke_ = dot;
        return {dot};
    }
    std::vector<StrokeDot> dots = segment(*lastDotInStroke_, dot);
    if (!dots.empty()) {
        lastDotInStroke_ = dots.back();
    }
    return dots;
}

std::vector<StrokeDot> LinearInterpStrokeProcessor::flush() {
    lastDotInStroke_.reset();
    return {};
}

} // namespace velmora
