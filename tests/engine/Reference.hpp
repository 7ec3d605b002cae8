#pragma once

#include "Canvas/BlendMode.hpp"
#include "Rendering/StrokesViewModel.hpp"
#include "gpu/MTLGeometry.hpp"
#include "graphics/NSBitmapImageRep.hpp"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the engine should produce, worked out pixel by pixel in double precision
// straight from the dab model and the blend formulas, without any engine code.
namespace velmora::engine::reference {

using RGBA8 = std::array<uint8_t, 4>;
using RGBA = std::array<double, 4>; // straight

// Pixels in canvas order: index y * width + x, row 0 at the bottom.
template <class P> struct Picture {
    int64_t width = 0, height = 0;
    std::vector<P> pixels;
    Picture() = default;
    Picture(int64_t w, int64_t h, P fill = {}) : width(w), height(h), pixels(size_t(w * h), fill) {}
    P& at(int64_t x, int64_t y) { return pixels[size_t(y * width + x)]; }
    const P& at(int64_t x, int64_t y) const { return pixels[size_t(y * width + x)]; }
};
using Picture8 = Picture<RGBA8>;
using PictureF = Picture<RGBA>;

// The stroke texture after stamping the dots in order: a dot covers a pixel
// by 1 - smoothstep(h·r - 0.5, r + 0.5, d), d measured from the pixel's centre,
// times its opacity and colour alpha; a pixel keeps the largest alpha it was
// given, a dot that raises it laying its colour over by source-over with just
// the alpha that lifts it there.
PictureF stamp(int64_t width, int64_t height, const std::vector<StrokesViewModel::Dot>& dots,
               PictureF onto = {});

// A finished stroke blended into a layer's pixels (sourceOver, or eraser:
// D(1 - Sa)), stored back as 8 bits.
Picture8 blendStroke(const Picture8& layer, const PictureF& stroke, bool erasing);

// One layer of a reference tree: pixels, or children for a group.
struct Node {
    BlendMode mode = BlendMode::sourceOver;
    double opacity = 1;
    bool visible = true;
    Picture8 pixels;
    std::vector<Node> children;
    bool isGroup = false;
};

// The layers over white, bottom first, each step rounded to 8 bits.
Picture8 flatten(const std::vector<Node>& layers, int64_t width, int64_t height);

// Row 0 of the bitmap is the top of the picture.
Picture8 fromBitmap(const NSBitmapImageRep& bitmap);
std::shared_ptr<NSBitmapImageRep> toBitmap(const Picture8& picture);

struct Difference {
    int pixels = 0;  // pixels with some channel off by more than the tolerance
    int largest = 0; // the largest channel difference anywhere
    int changed = 0; // pixels where `a` differs from `base` at all
};
Difference compare(const Picture8& a, const Picture8& b, int tolerance,
                   const Picture8* base = nullptr);
std::string describe(const Difference& d);

} // namespace velmora::engine::reference
