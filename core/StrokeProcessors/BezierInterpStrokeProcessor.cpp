#include "StrokeProcessors/BezierInterpStrokeProcessor.hpp"

#include "SKTUtils/CGPointExtensions.hpp"
#include "foundation/FatalError.hpp"
#include "graphics/CubicCurve.hpp"

#include <cmath>

namespace velmora {

namespace {

double lerp(double a, double b, double t) {
    return a + t * (b - a);
}

// Directions are unit vectors or zero; each end's tangent averages the chord
// and the neighbouring direction without renormalising.
std::vector<StrokeDot> segment(const StrokeDot& from, const StrokeDot& to, CGPoint start,
                               CGPoint end) {
    const CGPoint a = from.position, b = to.position;
    const double handle = length(b - a) / 3.0;
    const CGPoint chord = normalized(b - a);
    const CGPoint c1 = a + ((chord + start) / 2.0) * handle;
    const CGPoint c2 = b - ((chord + end) / 2.0) * handle;
    const CubicCurve curve(a, c1, c2, b);
    double n = curve.length() / ((from.spacing + to.spacing) * 0.5);
    if (!(n >= 1)) { // also NaN
        return {};
    }
    if (n > BezierInterpStrokeProcessor::maximumDotsPerSegment) {
        n = BezierInterpStrokeProcessor::maximumDotsPerSegment;
    }
    const int count = int(n);
    std::vector<StrokeDot> dots;
    dots.reserve(size_t(count));
    for (int i = 1; i <= count; ++i) {
        const double t = i / n;
        dots.push_back({curve.compute(t), lerp(from.spacing, to.spacing, t),
                        lerp(from.radius, to.radius, t), lerp(from.hardness, to.hardness, t),
                        lerp(from.opacity, to.opacity, t)});
    }
    return dots;
}

} // namespace

std::vector<StrokeDot> BezierInterpStrokeProcessor::process(const StrokeDot& dot) {
    previousDots_.push_back(dot);
    auto& d = previousDots_;
    switch (d.size()) {
    case 1:
        return {dot};
    case 2:
        return {};
    case 3: {
        std::vector<StrokeDot> dots = segment(d[0], d[1], normalized(d[1].position - d[0].position),
                                              normalized(d[2].position - d[1].position));
        if (dots.empty()) {
            d.erase(d.begin() + 1);
        } else {
            d[1] = dots.back();
        }
        return dots;
    }
    case 4: {
        std::vector<StrokeDot> dots = segment(d[1], d[2], normalized(d[1].position - d[0].position),
                                              normalized(d[3].position - d[2].position));
        if (dots.empty()) {
            d.erase(d.begin() + 2);
        } else {
            d[2] = dots.back();
            d.erase(d.begin());
        }
        return dots;
    }
    default:
        fatalError("Internal inconcistency");
    }
}

std::vector<StrokeDot> BezierInterpStrokeProcessor::flush() {
    // The segment to the stroke's last dot waited for a dot after it; none
    // comes, so it ends along its own chord. With a mouse it is the whole last move.
    std::vector<StrokeDot> dots;
    const auto& d = previousDots_;
    if (d.size() >= 2) {
        const StrokeDot& from = d[d.size() - 2];
        const StrokeDot& to = d.back();
        const CGPoint chord = normalized(to.position - from.position);
        const CGPoint start = d.size() == 3 ? normalized(d[1].position - d[0].position) : chord;
        dots = segment(from, to, start, chord);
    }
    previousDots_.clear();
    return dots;
}

} // namespace velmora
