#include "Extensions/CIImageExtensions.hpp"

namespace velmora {

namespace {
// The largest canvas side, and the margin kept below the canvas origin.
constexpr CGFloat kCanvasMaximumSide = 8000;
constexpr CGFloat kMargin = 4096;
} // namespace

CIImage canvasFillImage(const CIColor& color) {
    return CIImage(color).cropped(
        {{-kMargin, -kMargin}, {kCanvasMaximumSide + kMargin, kCanvasMaximumSide + kMargin}});
}

} // namespace velmora
