#pragma once

#include <array>
#include <cstdint>

namespace velmora {

// The vector and matrix values handed to shader functions, laid out as the
// shader side reads them.
template <class T> struct SIMD2 {
    T x{}, y{};
    friend bool operator==(const SIMD2&, const SIMD2&) = default;
};

// Three columns of three floats, each padded to 16 bytes: 48 bytes.
struct simd_float3x3 {
    std::array<std::array<float, 4>, 3> columns{};
    friend bool operator==(const simd_float3x3&, const simd_float3x3&) = default;
};
static_assert(sizeof(simd_float3x3) == 48);

} // namespace velmora
