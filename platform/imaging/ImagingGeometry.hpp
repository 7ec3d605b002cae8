#pragma once

#include "graphics/CGGeometry.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>

// Rectangle rules of the image graph: extents are CGRects in a y-up pixel
// space where pixel (x, y) covers [x, x+1) × [y, y+1); evaluation works on
// whole pixels.
namespace velmora::imaging {

struct PixelRect {
    int64_t x = 0;
    int64_t y = 0;
    int64_t width = 0;
    int64_t height = 0;

    bool isEmpty() const { return width <= 0 || height <= 0; }
    int64_t maxX() const { return x + width; }
    int64_t maxY() const { return y + height; }
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

inline PixelRect intersection(const PixelRect& a, const PixelRect& b) {
    const int64_t x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
    const int64_t x1 = std::min(a.maxX(), b.maxX()), y1 = std::min(a.maxY(), b.maxY());
    if (x1 <= x0 || y1 <= y0) {
        return {x0, y0, 0, 0};
    }
    return {x0, y0, x1 - x0, y1 - y0};
}

// The platform's infinite rectangle: the extent of a solid colour.
inline CGRect infiniteRect() {
    constexpr double big = std::numeric_limits<double>::max();
    return {{-big / 2, -big / 2}, {big, big}};
}

inline bool isInfinite(const CGRect& r) {
    return r.width() >= std::numeric_limits<double>::max() / 2 ||
           r.height() >= std::numeric_limits<double>::max() / 2;
}

inline bool isEmpty(const CGRect& r) {
    return !(r.size.width != 0 && r.size.height != 0) || std::isnan(r.origin.x) ||
           std::isnan(r.origin.y);
}

inline CGRect standardized(const CGRect& r) {
    return {{r.minX(), r.minY()}, {r.width(), r.height()}};
}

// Empty rectangles meet nothing; the result of no overlap is the zero rect.
inline CGRect intersection(const CGRect& a, const CGRect& b) {
    if (isEmpty(a) || isEmpty(b)) {
        return CGRect::zero();
    }
    const double x0 = std::max(a.minX(), b.minX()), y0 = std::max(a.minY(), b.minY());
    const double x1 = std::min(a.maxX(), b.maxX()), y1 = std::min(a.maxY(), b.maxY());
    if (!(x1 > x0 && y1 > y0)) {
        return CGRect::zero();
    }
    if (isInfinite(a) && isInfinite(b)) {
        return infiniteRect();
    }
    return {{x0, y0}, {x1 - x0, y1 - y0}};
}

// Empty rectangles add nothing to a union.
inline CGRect unionRect(const CGRect& a, const CGRect& b) {
    if (isEmpty(a)) {
        return isEmpty(b) ? CGRect::zero() : standardized(b);
    }
    if (isEmpty(b)) {
        return standardized(a);
    }
    if (isInfinite(a) || isInfinite(b)) {
        return infiniteRect();
    }
    const double x0 = std::min(a.minX(), b.minX()), y0 = std::min(a.minY(), b.minY());
    const double x1 = std::max(a.maxX(), b.maxX()), y1 = std::max(a.maxY(), b.maxY());
    return {{x0, y0}, {x1 - x0, y1 - y0}};
}

inline bool intersects(const CGRect& a, const CGRect& b) {
    return !isEmpty(intersection(a, b));
}

// The whole pixels a rectangle touches, clamped to a range that pixel
// arithmetic cannot overflow.
inline PixelRect pixelCover(const CGRect& r) {
    if (isEmpty(r)) {
        return {};
    }
    constexpr double limit = double(int64_t(1) << 40);
    const double x0 = std::clamp(std::floor(r.minX()), -limit, limit);
    const double y0 = std::clamp(std::floor(r.minY()), -limit, limit);
    const double x1 = std::clamp(std::ceil(r.maxX()), -limit, limit);
    const double y1 = std::clamp(std::ceil(r.maxY()), -limit, limit);
    return {int64_t(x0), int64_t(y0), int64_t(x1 - x0), int64_t(y1 - y0)};
}

inline CGRect toCGRect(const PixelRect& r) {
    return {{double(r.x), double(r.y)}, {double(r.width), double(r.height)}};
}

} // namespace velmora::imaging
