#pragma once

// Clamping and random draws on integers (Swift's Int is int64_t here).

#include "foundation/CheckedMath.hpp"
#include "foundation/Range.hpp"

#include <concepts>
#include <cstdint>
#include <type_traits>

namespace velmora {

// Below the range gives its lower bound, at or past its end `upperBound − 1`.
template <std::integral I> I clamped(I value, const Range<std::type_identity_t<I>>& range) {
    if (value < range.lowerBound) {
        return range.lowerBound;
    }
    if (value < range.upperBound) {
        return value;
    }
    return checked::sub<I>(range.upperBound, 1);
}
template <std::integral I> I clamped(I value, const ClosedRange<std::type_identity_t<I>>& range) {
    if (value < range.lowerBound) {
        return range.lowerBound;
    }
    return value < range.upperBound ? value : range.upperBound;
}
// The two bounds in either order.
template <std::integral I>
I clamped(I value, std::type_identity_t<I> bound1, std::type_identity_t<I> bound2) {
    const I low = bound1 < bound2 ? bound1 : bound2;
    const I high = bound1 < bound2 ? bound2 : bound1;
    if (value < low) {
        return low;
    }
    return value < high ? value : high;
}
template <std::integral I> I clamp(I& value, const Range<std::type_identity_t<I>>& range) {
    return value = clamped(value, range);
}
template <std::integral I> I clamp(I& value, const ClosedRange<std::type_identity_t<I>>& range) {
    return value = clamped(value, range);
}
template <std::integral I>
I clamp(I& value, std::type_identity_t<I> bound1, std::type_identity_t<I> bound2) {
    return value = clamped(value, bound1, bound2);
}

// A uniform draw from 0 to n − 1 (0 for n = 0); n must lie in 0 to 2³² − 1.
int64_t randomInt(int64_t n);
// A uniform draw from min to max, both included; max − min + 1 must lie in 0
// to 2³² − 1.
int64_t randomInt(int64_t min, int64_t max);
// A uniform draw from a non-empty range spanning at most 2³² − 1 values.
int64_t randomInt(const Range<int64_t>& range);
int64_t randomInt(const ClosedRange<int64_t>& range);

} // namespace velmora
