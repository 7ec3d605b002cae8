#pragma once

#include "graphics/CGGeometry.hpp"

#include <cstdint>
#include <vector>

namespace velmora {

// An 8-bit grey plus alpha bitmap, alpha premultiplied and stored second, rows
// top first; what a cursor image is made of.
class GrayAlphaBitmap {
public:
    GrayAlphaBitmap(int pixelsWide, int pixelsHigh);

    int pixelsWide() const { return width_; }
    int pixelsHigh() const { return height_; }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    std::uint8_t gray(int x, int y) const { return bytes_[index(x, y)]; }
    std::uint8_t alpha(int x, int y) const { return bytes_[index(x, y) + 1]; }

    // Strokes, anti-aliased and over what is there, the circle inscribed in the
    // square from `origin` with side `side`, centred on its outline, `lineWidth`
    // wide, in the opaque grey `gray` (0 black, 1 white). A circle too small to
    // have an inside draws only what fits; an empty one draws nothing.
    void strokeCircle(CGPoint origin, double side, double lineWidth, double gray);

    friend bool operator==(const GrayAlphaBitmap&, const GrayAlphaBitmap&) = default;

private:
    std::size_t index(int x, int y) const { return (std::size_t(y) * width_ + x) * 2; }

    int width_;
    int height_;
    std::vector<std::uint8_t> bytes_;
};

} // namespace velmora
