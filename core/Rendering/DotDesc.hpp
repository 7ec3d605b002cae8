#pragma once

#include "gpu/MTLGeometry.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace velmora {

// One dot as the "drawDots" kernel reads it: 48 bytes, little-endian, packed
// back to back. Colour is straight (not premultiplied); an erasing dot is white.
struct DotDesc {
    float pos[2] = {0, 0};
    float reserved0[2] = {0, 0}; // aligns `color` to 16 bytes
    float color[4] = {1, 1, 1, 1};
    float radius = 0;
    float hardness = 0;
    float opacity = 0;
    float reserved1 = 0;
};
static_assert(sizeof(DotDesc) == 48);

// The pixels a dot may touch: R = ceil(radius), the square of side 2R + 1 around
// (trunc(x) - R, trunc(y) - R). Computed from the record's own floats so the
// host and the kernel agree to the pixel. A non-finite or negative radius or a
// non-finite position gives the empty region; far-away positions saturate so
// the arithmetic on the region cannot overflow.
inline MTLRegion dotRegion(float x, float y, float radius) {
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(radius) || !(radius >= 0)) {
        return {};
    }
    constexpr float limit = 1099511627776.0f; // 2^40
    // Finite from here on: plain comparisons clamp as fmin and fmax would, without a
    // call, and within ±2^40 the conversion truncates exactly as trunc would.
    const auto whole = [&](float v) { return static_cast<int64_t>(std::clamp(v, -limit, limit)); };
    const float clamped = std::min(radius, limit);
    const auto floor = static_cast<int64_t>(clamped); // the radius is not negative
    const int64_t r = floor + (static_cast<float>(floor) < clamped ? 1 : 0);
    const int64_t side = 2 * r + 1;
    return {{whole(x) - r, whole(y) - r, 0}, {side, side, 1}};
}

inline MTLRegion dotRegion(const DotDesc& dot) {
    return dotRegion(dot.pos[0], dot.pos[1], dot.radius);
}

} // namespace velmora
