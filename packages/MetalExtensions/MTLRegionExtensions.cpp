#include "MetalExtensions/MTLRegionExtensions.hpp"

#include <algorithm>
#include <ostream>

namespace velmora {

namespace {

struct Axis {
    int64_t origin;
    int64_t extent;
    int64_t end() const { return checked::add(origin, extent); }
};

Axis axisX(const MTLRegion& r) {
    return {r.origin.x, r.size.width};
}
Axis axisY(const MTLRegion& r) {
    return {r.origin.y, r.size.height};
}
Axis axisZ(const MTLRegion& r) {
    return {r.origin.z, r.size.depth};
}

MTLRegion fromAxes(Axis x, Axis y, Axis z) {
    return {{x.origin, y.origin, z.origin}, {x.extent, y.extent, z.extent}};
}

} // namespace

MTLRegion unionWith(const MTLRegion& a, const MTLRegion& b) {
    if (isEmpty(a)) {
        return b;
    }
    if (isEmpty(b)) {
        return a;
    }
    const auto unite = [](Axis p, Axis q) {
        const int64_t low = std::min(p.origin, q.origin);
        const int64_t high = std::max(p.end(), q.end());
        // Two non-empty regions always give high >= low.
        precondition(high >= low);
        return Axis{low, checked::sub(high, low)};
    };
    return fromAxes(unite(axisX(a), axisX(b)), unite(axisY(a), axisY(b)),
                    unite(axisZ(a), axisZ(b)));
}

std::optional<MTLRegion> intersection(const MTLRegion& a, const MTLRegion& b) {
    Axis axes[3];
    const Axis as[3] = {axisX(a), axisY(a), axisZ(a)};
    const Axis bs[3] = {axisX(b), axisY(b), axisZ(b)};
    for (int k = 0; k < 3; ++k) {
        const int64_t low = std::max(as[k].origin, bs[k].origin);
        const int64_t high = std::min(as[k].end(), bs[k].end());
        if (low >= high) {
            return std::nullopt;
        }
        axes[k] = {low, checked::sub(high, low)};
    }
    return fromAxes(axes[0], axes[1], axes[2]);
}

MTLRegion inflated(const MTLRegion& r, const MTLVector& v) {
    return {{checked::sub(r.origin.x, v.dx), checked::sub(r.origin.y, v.dy),
             checked::sub(r.origin.z, v.dz)},
            inflated(r.size, 2 * v)};
}

MTLRegion deflated(const MTLRegion& r, const MTLVector& v) {
    return {r.origin + v, deflated(r.size, 2 * v)};
}

std::vector<MTLRegion> split(const MTLRegion& r, const MTLSize& tile) {
    precondition(tile.width >= 1 && tile.height >= 1 && tile.depth == 1,
                 "Tile size must be at least 1 x 1 with depth 1");
    const int64_t columns = checked::add(r.size.width, tile.width - 1) / tile.width;
    const int64_t rows = checked::add(r.size.height, tile.height - 1) / tile.height;
    if (columns < 2 && rows < 2) {
        return {r};
    }
    // A negative extent gives no columns or rows: an empty region has no tiles.
    std::vector<MTLRegion> tiles;
    for (int64_t j = 0; j < rows; ++j) {
        const int64_t tileY = checked::add(r.origin.y, checked::mul(j, tile.height));
        for (int64_t i = 0; i < columns; ++i) {
            const int64_t tileX = checked::add(r.origin.x, checked::mul(i, tile.width));
            const MTLRegion box{{tileX, tileY, r.origin.z}, {tile.width, tile.height, 1}};
            if (i == columns - 1 || j == rows - 1) {
                const auto clipped = intersection(box, r);
                precondition(clipped.has_value(), "Region cannot be split into tiles");
                tiles.push_back(*clipped);
            } else {
                tiles.push_back(box);
            }
        }
    }
    return tiles;
}

std::string description(const MTLOrigin& o) {
    std::string text = "(" + std::to_string(o.x) + ", " + std::to_string(o.y);
    if (o.z != 0) {
        text += ", " + std::to_string(o.z);
    }
    return text + ")";
}

std::string description(const MTLSize& s) {
    std::string text = std::to_string(s.width) + " x " + std::to_string(s.height);
    if (s.depth != 1) {
        text += " x " + std::to_string(s.depth);
    }
    return text;
}

std::string description(const MTLRegion& r) {
    return "{" + description(r.origin) + ", " + description(r.size) + "}";
}

std::ostream& operator<<(std::ostream& os, const MTLOrigin& o) {
    return os << description(o);
}
std::ostream& operator<<(std::ostream& os, const MTLSize& s) {
    return os << description(s);
}
std::ostream& operator<<(std::ostream& os, const MTLRegion& r) {
    return os << description(r);
}

} // namespace velmora
