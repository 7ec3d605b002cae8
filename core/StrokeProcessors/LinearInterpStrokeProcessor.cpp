#include "StrokeProcessors/LinearInterpStrokeProcessor.hpp"

#include "SKTUtils/CGPointExtensions.hpp"

#include <cmath>

namespace velmora {

namespace {

double lerp(double a, double b, double t) {
    return a + t * (b - a);
}

std::vector<StrokeDot> segment(const StrokeDot& from, const StrokeDot& to) {
    const CGPoint a = from.position, b = to.position;
    const double quotient = distanceTo(a, b) / to.spacing;
    if (!(quotient >= 1)) { // also NaN
        return {};
    }
    const int count = quotient > LinearInterpStrokeProcessor::maximumDotsPerSegment
                          ? LinearInterpStrokeProcessor::maximumDotsPerSegment
                          : int(quotient);
    const CGPoint step = normalized(b - a) * ((to.spacing + from.spacing) * 0.5);
    const CGPoint end = a + step * double(count);
    std::vector<StrokeDot> dots;
    dots.reserve(size_t(count));
    for (int i = 1; i <= count; ++i) {
        const double t = double(i) / count;
        dots.push_back({a + (end - a) * t, lerp(from.spacing, to.spacing, t),
                        lerp(from.radius, to.radius, t), lerp(from.hardness, to.hardness, t),
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
