#pragma once

#include "foundation/FatalError.hpp"

#include <concepts>

namespace velmora {

// The half-open interval lowerBound..<upperBound. A reversed range cannot be
// formed: it stops the program.
template <std::totally_ordered T> struct Range {
    T lowerBound;
    T upperBound;

    Range(T lower, T upper) : lowerBound(lower), upperBound(upper) {
        precondition(!(upper < lower), "Range requires lowerBound <= upperBound");
    }
    bool isEmpty() const { return !(lowerBound < upperBound); }
    bool contains(const T& v) const { return !(v < lowerBound) && v < upperBound; }
    friend bool operator==(const Range&, const Range&) = default;
};

// The closed interval lowerBound...upperBound.
template <std::totally_ordered T> struct ClosedRange {
    T lowerBound;
    T upperBound;

    ClosedRange(T lower, T upper) : lowerBound(lower), upperBound(upper) {
        precondition(!(upper < lower), "Range requires lowerBound <= upperBound");
    }
    bool contains(const T& v) const { return !(v < lowerBound) && !(upperBound < v); }
    friend bool operator==(const ClosedRange&, const ClosedRange&) = default;
};

} // namespace velmora
