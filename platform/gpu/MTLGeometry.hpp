#pragma once

#include <cstdint>

namespace velmora {

// The bare integer pixel records of the GPU interface. Components are signed:
// the engine computes with them as signed values throughout. Their operations
// live in the MetalExtensions package.

struct MTLOrigin {
    int64_t x = 0;
    int64_t y = 0;
    int64_t z = 0;
    friend bool operator==(const MTLOrigin&, const MTLOrigin&) = default;
};

struct MTLSize {
    int64_t width = 0;
    int64_t height = 0;
    int64_t depth = 0;
    friend bool operator==(const MTLSize&, const MTLSize&) = default;
};

struct MTLRegion {
    MTLOrigin origin;
    MTLSize size;
    friend bool operator==(const MTLRegion&, const MTLRegion&) = default;
};

inline constexpr MTLOrigin MTLOriginMake(int64_t x, int64_t y, int64_t z) {
    return {x, y, z};
}
inline constexpr MTLSize MTLSizeMake(int64_t w, int64_t h, int64_t d) {
    return {w, h, d};
}
inline constexpr MTLRegion MTLRegionMake2D(int64_t x, int64_t y, int64_t w, int64_t h) {
    return {{x, y, 0}, {w, h, 1}};
}

} // namespace velmora
