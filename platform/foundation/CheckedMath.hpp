#pragma once

#include "foundation/FatalError.hpp"

#include <cmath>
#include <concepts>
#include <limits>
#include <source_location>

// Integer arithmetic that traps instead of wrapping, and float-to-integer
// conversion that refuses non-finite or out-of-range values.
namespace velmora::checked {

template <std::integral T>
T add(T a, T b, std::source_location where = std::source_location::current()) {
    T r;
    if (__builtin_add_overflow(a, b, &r)) [[unlikely]] {
        fatalError("Arithmetic overflow", where);
    }
    return r;
}

template <std::integral T>
T sub(T a, T b, std::source_location where = std::source_location::current()) {
    T r;
    if (__builtin_sub_overflow(a, b, &r)) [[unlikely]] {
        fatalError("Arithmetic overflow", where);
    }
    return r;
}

template <std::integral T>
T mul(T a, T b, std::source_location where = std::source_location::current()) {
    T r;
    if (__builtin_mul_overflow(a, b, &r)) [[unlikely]] {
        fatalError("Arithmetic overflow", where);
    }
    return r;
}

template <std::integral T>
T div(T a, T b, std::source_location where = std::source_location::current()) {
    if (b == 0) [[unlikely]] {
        fatalError("Division by zero", where);
    }
    if constexpr (std::is_signed_v<T>) {
        if (a == std::numeric_limits<T>::min() && b == T(-1)) [[unlikely]] {
            fatalError("Arithmetic overflow", where);
        }
    }
    return a / b;
}

template <std::integral T>
T neg(T a, std::source_location where = std::source_location::current()) {
    return sub(T(0), a, where);
}

namespace detail {
constexpr double twoToThe(int n) {
    double r = 1.0;
    for (int i = 0; i < n; ++i) {
        r *= 2.0;
    }
    return r;
}
template <std::integral T> constexpr double upperBound = twoToThe(std::numeric_limits<T>::digits);
template <std::integral T> constexpr double lowerBound = std::is_signed_v<T> ? -upperBound<T> : 0.0;
} // namespace detail

// Truncates toward zero; the value must be finite and its truncation representable in T.
template <std::integral T>
T toInteger(double v, std::source_location where = std::source_location::current()) {
    const double t = std::trunc(v);
    if (!std::isfinite(v) || t < detail::lowerBound<T> || t >= detail::upperBound<T>) [[unlikely]] {
        fatalError("Float value cannot be converted to an integer", where);
    }
    return static_cast<T>(t);
}

// For input: true and the value when `v` is a whole number representable in T.
template <std::integral T> bool toIntegerIfExact(double v, T& out) {
    if (!std::isfinite(v) || std::trunc(v) != v || v < detail::lowerBound<T> ||
        v >= detail::upperBound<T>) {
        return false;
    }
    out = static_cast<T>(v);
    return true;
}

} // namespace velmora::checked
