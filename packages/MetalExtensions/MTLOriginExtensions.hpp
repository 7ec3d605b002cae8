#pragma once

// Operations on MTLOrigin. The platform record cannot take members, so the
// initialisers are `makeMTLOrigin` overloads and the members free functions.

#include "MetalExtensions/MTLVector.hpp"
#include "foundation/Hasher.hpp"

#include <functional>
#include <iosfwd>
#include <string>

namespace velmora {

inline constexpr MTLOrigin MTLOriginZero{0, 0, 0};

inline constexpr MTLOrigin makeMTLOrigin(int64_t x, int64_t y) {
    return {x, y, 0};
}
inline constexpr MTLOrigin makeMTLOrigin(const MTLVector& v) {
    return {v.dx, v.dy, v.dz};
}
inline constexpr MTLOrigin makeMTLOrigin(const MTLSize& s) {
    return {s.width, s.height, s.depth};
}
// Truncates toward zero; a non-finite or out-of-range coordinate stops the program.
inline MTLOrigin makeMTLOrigin(CGPoint p) {
    return {checked::toInteger<int64_t>(p.x), checked::toInteger<int64_t>(p.y), 0};
}

inline MTLVector operator-(const MTLOrigin& a, const MTLOrigin& b) {
    return {checked::sub(a.x, b.x), checked::sub(a.y, b.y), checked::sub(a.z, b.z)};
}
inline MTLOrigin operator+(const MTLOrigin& o, const MTLVector& v) {
    return {checked::add(o.x, v.dx), checked::add(o.y, v.dy), checked::add(o.z, v.dz)};
}
inline MTLOrigin& operator+=(MTLOrigin& o, const MTLVector& v) {
    return o = o + v;
}

inline MTLOrigin translated(const MTLOrigin& o, const MTLVector& v) {
    return o + v;
}
inline MTLOrigin translated(const MTLOrigin& o, int64_t dx, int64_t dy) {
    return {checked::add(o.x, dx), checked::add(o.y, dy), o.z};
}

// "(x, y)", or "(x, y, z)" when z is not 0.
std::string description(const MTLOrigin& o);
std::ostream& operator<<(std::ostream& os, const MTLOrigin& o);

} // namespace velmora

template <> struct std::hash<velmora::MTLOrigin> {
    size_t operator()(const velmora::MTLOrigin& o) const noexcept {
        velmora::Hasher h;
        h.combine(o.x);
        h.combine(o.y);
        h.combine(o.z);
        return h.finalize();
    }
};
