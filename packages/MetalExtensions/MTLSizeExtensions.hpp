#pragma once

// Operations on MTLSize, as free functions over the platform record. A size is
// empty when any extent is below 1.

#include "MetalExtensions/MTLVector.hpp"
#include "foundation/Hasher.hpp"

#include <algorithm>
#include <functional>
#include <iosfwd>
#include <string>

namespace velmora {

inline constexpr MTLSize makeMTLSize(int64_t width, int64_t height) {
    return {width, height, 1};
}
// Truncates toward zero; a non-finite or out-of-range extent stops the program.
inline MTLSize makeMTLSize(CGSize s) {
    return {checked::toInteger<int64_t>(s.width), checked::toInteger<int64_t>(s.height), 1};
}

inline bool isEmpty(const MTLSize& s) {
    return s.width < 1 || s.height < 1 || s.depth < 1;
}
// True when `other` fits on every axis, depth included.
inline bool contains(const MTLSize& s, const MTLSize& other) {
    return other.width <= s.width && other.height <= s.height && other.depth <= s.depth;
}
inline int64_t surface(const MTLSize& s) {
    return checked::mul(s.width, s.height);
}

inline MTLSize inflated(const MTLSize& s, const MTLVector& v) {
    return {checked::add(s.width, v.dx), checked::add(s.height, v.dy), checked::add(s.depth, v.dz)};
}
inline MTLSize inflated(const MTLSize& s, int64_t a, int64_t b) {
    return {checked::add(s.width, a), checked::add(s.height, b), s.depth};
}
inline MTLSize deflated(const MTLSize& s, const MTLVector& v) {
    return {checked::sub(s.width, v.dx), checked::sub(s.height, v.dy), checked::sub(s.depth, v.dz)};
}
inline MTLSize deflated(const MTLSize& s, int64_t n) {
    return {checked::sub(s.width, n), checked::sub(s.height, n), s.depth};
}
inline MTLSize clamped(const MTLSize& s, const MTLSize& limit) {
    return {std::min(s.width, limit.width), std::min(s.height, limit.height),
            std::min(s.depth, limit.depth)};
}

// Divides all three extents, depth included, truncating toward zero.
inline MTLSize operator/(const MTLSize& s, int64_t k) {
    return {checked::div(s.width, k), checked::div(s.height, k), checked::div(s.depth, k)};
}

// "w x h", or "w x h x d" when the depth is not 1.
std::string description(const MTLSize& s);
std::ostream& operator<<(std::ostream& os, const MTLSize& s);

} // namespace velmora

template <> struct std::hash<velmora::MTLSize> {
    size_t operator()(const velmora::MTLSize& s) const noexcept {
        velmora::Hasher h;
        h.combine(s.width);
        h.combine(s.height);
        h.combine(s.depth);
        return h.finalize();
    }
};
