#pragma once

#include "foundation/CheckedMath.hpp"
#include "gpu/MTLGeometry.hpp"
#include "graphics/CGGeometry.hpp"

#include <cstdint>

namespace velmora {

// An integer displacement between two origins, used to move layer contents.
// All arithmetic is checked: overflow and division by zero stop the program.
struct MTLVector {
    int64_t dx = 0;
    int64_t dy = 0;
    int64_t dz = 0;

    constexpr MTLVector() = default;
    constexpr MTLVector(int64_t dx, int64_t dy, int64_t dz = 0) : dx(dx), dy(dy), dz(dz) {}
    explicit constexpr MTLVector(const MTLOrigin& o) : dx(o.x), dy(o.y), dz(o.z) {}
    // The integer part of `vector`, truncated toward zero; the fractions are
    // stored in `residual` so that a caller can carry them into the next move.
    MTLVector(CGVector vector, CGVector& residual);

    static constexpr MTLVector zero() { return {}; }

    bool isNull() const { return dx == 0 && dy == 0 && dz == 0; }
    // √(dx² + dy² + dz²), the squares formed in 64-bit integers first.
    double length() const;

    friend bool operator==(const MTLVector&, const MTLVector&) = default;
};

inline MTLVector operator-(const MTLVector& v) {
    return {checked::neg(v.dx), checked::neg(v.dy), checked::neg(v.dz)};
}
inline MTLVector operator+(const MTLVector& a, const MTLVector& b) {
    return {checked::add(a.dx, b.dx), checked::add(a.dy, b.dy), checked::add(a.dz, b.dz)};
}
inline MTLVector& operator+=(MTLVector& a, const MTLVector& b) {
    return a = a + b;
}
inline MTLVector operator*(int64_t k, const MTLVector& v) {
    return {checked::mul(k, v.dx), checked::mul(k, v.dy), checked::mul(k, v.dz)};
}
inline MTLVector operator*(const MTLVector& v, int64_t k) {
    return k * v;
}
inline MTLVector operator/(const MTLVector& v, int64_t k) {
    return {checked::div(v.dx, k), checked::div(v.dy, k), checked::div(v.dz, k)};
}

} // namespace velmora
