#pragma once

#include "StrokeProcessors/StrokeDot.hpp"

#include <vector>

namespace velmora {

// One stage of the dot chain of a stroke.
class StrokeProcessor {
public:
    virtual ~StrokeProcessor() = default;

    // Takes the next dot of the stroke; returns the dots now ready, in order.
    virtual std::vector<StrokeDot> process(const StrokeDot& dot) = 0;
    // The stroke has ended: returns what is left and resets for the next stroke.
    virtual std::vector<StrokeDot> flush() = 0;
};

} // namespace velmora
