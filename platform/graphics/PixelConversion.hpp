#pragma once

#include "graphics/CGColorSpace.hpp"

#include <cstddef>
#include <cstdint>

namespace velmora {

// Interleaved pixel layouts in native byte order; alpha is always straight and last.
enum class PixelLayout : uint8_t {
    gray8,
    grayAlpha8,
    rgb8,
    rgba8,
    cmyk8,
    gray16,
    grayAlpha16,
    rgb16,
    rgba16,
    rgbaFloat32,
};

size_t bytesPerPixel(PixelLayout layout);
bool hasAlpha(PixelLayout layout);
CGColorSpaceModel colorModel(PixelLayout layout);

// Converts `count` pixels from one space and layout to another. A null source
// space, or one equal to the destination, converts the layout only: the values
// are taken as already being in the destination space, so sRGB to sRGB is exact.
// A source space whose model does not fit its layout is ignored the same way.
// A destination with alpha gets opaque alpha from a source without it.
void convertPixels(const CGColorSpace* from, PixelLayout fromLayout, const void* src,
                   const CGColorSpace& to, PixelLayout toLayout, void* dst, size_t count);

// Straight colour from premultiplied 8-bit RGBA, in place; clear pixels become 0.
void unpremultiplyRGBA8(uint8_t* pixels, size_t count);

// Converts one colour's components (no alpha) between RGB or grey spaces, the
// results clamped to 0...1. False when either space is of another kind.
bool convertColorComponents(const CGColorSpace& from, const double* in, const CGColorSpace& to,
                            double* out);

} // namespace velmora
