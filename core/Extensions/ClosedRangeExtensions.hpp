#pragma once

#include "foundation/Range.hpp"

#include <type_traits>

namespace velmora {

// The value held inside the range: its lower bound below it, its upper bound
// above it.
template <typename T> T clamp(const ClosedRange<T>& range, const std::type_identity_t<T>& value) {
    if (value < range.lowerBound) {
        return range.lowerBound;
    }
    if (range.upperBound < value) {
        return range.upperBound;
    }
    return value;
}

} // namespace velmora
