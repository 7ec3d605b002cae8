#pragma once

// Operations on MTLRegion, as free functions over the platform record. A region
// spans origin (inclusive) to origin + size (exclusive) on each axis; it is
// empty when any extent is below 1. `union` is a C++ keyword, so the union of
// two regions is `unionWith`.

#include "MetalExtensions/MTLOriginExtensions.hpp"
#include "MetalExtensions/MTLSizeExtensions.hpp"

#include <optional>
#include <vector>

namespace velmora {

inline constexpr MTLRegion makeMTLRegion(int64_t x, int64_t y, int64_t width, int64_t height) {
    return {{x, y, 0}, {width, height, 1}};
}
inline constexpr MTLRegion makeMTLRegion(int64_t x, int64_t y, int64_t z, int64_t width,
                                         int64_t height, int64_t depth) {
    return {{x, y, z}, {width, height, depth}};
}
inline MTLRegion makeMTLRegion(CGSize s) {
    return {MTLOriginZero, makeMTLSize(s)};
}
inline MTLRegion makeMTLRegion(const CGRect& r) {
    return {makeMTLOrigin(r.origin), makeMTLSize(r.size)};
}

inline int64_t left(const MTLRegion& r) {
    return r.origin.x;
}
inline int64_t right(const MTLRegion& r) {
    return checked::add(r.origin.x, r.size.width);
}
inline int64_t bottom(const MTLRegion& r) {
    return r.origin.y;
}
inline int64_t top(const MTLRegion& r) {
    return checked::add(r.origin.y, r.size.height);
}

inline bool isEmpty(const MTLRegion& r) {
    return isEmpty(r.size);
}

// The smallest region holding both; an empty operand gives the other one unchanged.
MTLRegion unionWith(const MTLRegion& a, const MTLRegion& b);
// The common part; regions that only touch share nothing, nor does an empty one.
std::optional<MTLRegion> intersection(const MTLRegion& a, const MTLRegion& b);
inline bool intersects(const MTLRegion& a, const MTLRegion& b) {
    return intersection(a, b).has_value();
}
// True when `b` lies wholly inside `a`; never for an empty `b`.
inline bool contains(const MTLRegion& a, const MTLRegion& b) {
    const auto common = intersection(a, b);
    return common && *common == b;
}

inline MTLRegion translated(const MTLRegion& r, const MTLVector& v) {
    return {r.origin + v, r.size};
}
// Grown by `v` on every side.
MTLRegion inflated(const MTLRegion& r, const MTLVector& v);
inline MTLRegion inflated(const MTLRegion& r, int64_t a, int64_t b) {
    return inflated(r, MTLVector(a, b, 0));
}
// Shrunk by `v` on every side.
MTLRegion deflated(const MTLRegion& r, const MTLVector& v);
inline MTLRegion deflated(const MTLRegion& r, int64_t a, int64_t b) {
    return deflated(r, MTLVector(a, b, 0));
}

// Tiles of at most `tile` (depth 1), row by row from the bottom, each row from
// the left. A region that fits one tile comes back as itself; otherwise the
// tiles cover the first slice exactly. A tile narrower than 1 or of a depth
// other than 1 stops the program.
std::vector<MTLRegion> split(const MTLRegion& r, const MTLSize& tile);

// "{origin, size}", e.g. "{(0, 0), 256 x 256}".
std::string description(const MTLRegion& r);
std::ostream& operator<<(std::ostream& os, const MTLRegion& r);

} // namespace velmora

template <> struct std::hash<velmora::MTLRegion> {
    size_t operator()(const velmora::MTLRegion& r) const noexcept {
        velmora::Hasher h;
        h.combine(r.origin.x);
        h.combine(r.origin.y);
        h.combine(r.origin.z);
        h.combine(r.size.width);
        h.combine(r.size.height);
        h.combine(r.size.depth);
        return h.finalize();
    }
};
