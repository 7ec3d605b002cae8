#pragma once

#include <cmath>

namespace velmora {

// The bare floating-point view geometry of the graphics interface. The
// operations the engine adds live in SKTUtils and core/Extensions.

using CGFloat = double;

struct CGPoint {
    CGFloat x = 0;
    CGFloat y = 0;
    static constexpr CGPoint zero() { return {0, 0}; }
    friend bool operator==(const CGPoint&, const CGPoint&) = default;
};

struct CGVector {
    CGFloat dx = 0;
    CGFloat dy = 0;
    static constexpr CGVector zero() { return {0, 0}; }
    friend bool operator==(const CGVector&, const CGVector&) = default;
};

struct CGSize {
    CGFloat width = 0;
    CGFloat height = 0;
    static constexpr CGSize zero() { return {0, 0}; }
    friend bool operator==(const CGSize&, const CGSize&) = default;
};

struct CGRect {
    CGPoint origin;
    CGSize size;
    static constexpr CGRect zero() { return {}; }
    CGFloat minX() const { return std::fmin(origin.x, origin.x + size.width); }
    CGFloat maxX() const { return std::fmax(origin.x, origin.x + size.width); }
    CGFloat minY() const { return std::fmin(origin.y, origin.y + size.height); }
    CGFloat maxY() const { return std::fmax(origin.y, origin.y + size.height); }
    CGFloat midX() const { return origin.x + size.width / 2; }
    CGFloat midY() const { return origin.y + size.height / 2; }
    CGFloat width() const { return std::fabs(size.width); }
    CGFloat height() const { return std::fabs(size.height); }
    friend bool operator==(const CGRect&, const CGRect&) = default;
};

// A point (x, y) maps to (a·x + c·y + tx, b·x + d·y + ty).
struct CGAffineTransform {
    CGFloat a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    static constexpr CGAffineTransform identity() { return {}; }
    static CGAffineTransform makeTranslation(CGFloat x, CGFloat y) { return {1, 0, 0, 1, x, y}; }
    static CGAffineTransform makeScale(CGFloat sx, CGFloat sy) { return {sx, 0, 0, sy, 0, 0}; }
    static CGAffineTransform makeRotation(CGFloat radians) {
        const CGFloat c = std::cos(radians), s = std::sin(radians);
        return {c, s, -s, c, 0, 0};
    }

    bool isIdentity() const { return *this == identity(); }

    // `t1.concatenating(t2)` applies t1 first, then t2.
    CGAffineTransform concatenating(const CGAffineTransform& t2) const {
        return {a * t2.a + b * t2.c, a * t2.b + b * t2.d,           c * t2.a + d * t2.c,
                c * t2.b + d * t2.d, tx * t2.a + ty * t2.c + t2.tx, tx * t2.b + ty * t2.d + t2.ty};
    }
    // The platform's convenience forms prepend the new operation: the result
    // applies the translation/scale/rotation first, then this transform.
    CGAffineTransform translatedBy(CGFloat x, CGFloat y) const {
        return makeTranslation(x, y).concatenating(*this);
    }
    CGAffineTransform scaledBy(CGFloat sx, CGFloat sy) const {
        return makeScale(sx, sy).concatenating(*this);
    }
    CGAffineTransform rotated(CGFloat radians) const {
        return makeRotation(radians).concatenating(*this);
    }
    // A singular transform is returned unchanged, as the platform does.
    CGAffineTransform inverted() const {
        const CGFloat det = a * d - b * c;
        if (det == 0 || !std::isfinite(det)) {
            return *this;
        }
        return {
            d / det, -b / det, -c / det, a / det, (c * ty - d * tx) / det, (b * tx - a * ty) / det};
    }
    CGPoint apply(CGPoint p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
    CGSize apply(CGSize s) const {
        return {a * s.width + c * s.height, b * s.width + d * s.height};
    }

    friend bool operator==(const CGAffineTransform&, const CGAffineTransform&) = default;
};

inline CGPoint operator*(CGPoint p, const CGAffineTransform& t) {
    return t.apply(p);
}

} // namespace velmora
