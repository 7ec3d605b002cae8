#include "Rendering/GrayAlphaBitmap.hpp"

#include "foundation/FatalError.hpp"

#include <algorithm>
#include <cmath>

namespace velmora {

GrayAlphaBitmap::GrayAlphaBitmap(int pixelsWide, int pixelsHigh)
    : width_(pixelsWide), height_(pixelsHigh) {
    precondition(pixelsWide >= 0 && pixelsHigh >= 0 && pixelsWide <= 16384 && pixelsHigh <= 16384,
                 "Unsupported bitmap size");
    bytes_.assign(std::size_t(width_) * std::size_t(height_) * 2, 0);
}

void GrayAlphaBitmap::strokeCircle(CGPoint origin, double side, double lineWidth, double gray) {
    const double radius = side / 2;
    if (!(radius > 0) || !(lineWidth > 0) ||
        !std::isfinite(side + lineWidth + origin.x + origin.y)) {
        return;
    }
    const double cx = origin.x + radius, cy = origin.y + radius;
    const double inner = radius - lineWidth / 2, outer = radius + lineWidth / 2;
    // A pixel's coverage is approximated from the distance of its centre to
    // the ring's two edges, which is exact for edges straight across the pixel.
    const auto coverage = [&](double distance) {
        return std::clamp(std::min(distance - inner, outer - distance) + 0.5, 0.0, 1.0);
    };
    const double reach = outer + 1;
    const int yFirst = std::max(0, int(std::floor(cy - reach)));
    const int yLast = std::min(height_ - 1, int(std::ceil(cy + reach)));
    for (int y = yFirst; y <= yLast; ++y) {
        const double dy = y + 0.5 - cy;
        if (std::fabs(dy) > reach) {
            continue;
        }
        const double span = std::sqrt(reach * reach - dy * dy);
        const double hole =
            inner - 1 > std::fabs(dy) ? std::sqrt((inner - 1) * (inner - 1) - dy * dy) : 0;
        const int xFirst = std::max(0, int(std::floor(cx - span)));
        const int xLast = std::min(width_ - 1, int(std::ceil(cx + span)));
        for (int x = xFirst; x <= xLast; ++x) {
            const double dx = x + 0.5 - cx;
            if (std::fabs(dx) < hole) {
                x = std::max(x, int(std::floor(cx + hole)) - 1);
                continue;
            }
            const double a = coverage(std::hypot(dx, dy));
            if (a <= 0) {
                continue;
            }
            // Source over, premultiplied.
            std::uint8_t* pixel = &bytes_[index(x, y)];
            const double g = gray * a + pixel[0] / 255.0 * (1 - a);
            const double alpha = a + pixel[1] / 255.0 * (1 - a);
            pixel[0] = std::uint8_t(std::lround(std::clamp(g, 0.0, 1.0) * 255));
            pixel[1] = std::uint8_t(std::lround(std::clamp(alpha, 0.0, 1.0) * 255));
        }
    }
}

} // namespace velmora
