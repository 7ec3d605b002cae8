#pragma once

#include "Rendering/GrayAlphaBitmap.hpp"
#include "graphics/CGGeometry.hpp"

#include <vector>

namespace velmora {

// What the application turns into a pointer: the system crosshair, or an image
// of `imageSize` points with one bitmap per scale (1 then 2) and a hot spot in
// points from the image's top left.
struct BrushCursor {
    bool crosshair = false;
    CGSize imageSize;
    std::vector<GrayAlphaBitmap> representations;
    CGPoint hotSpot;

    static BrushCursor crosshairCursor() { return {true, {}, {}, {}}; }

    // A black ring of the brush's on-screen diameter with a white ring just
    // inside it, or the crosshair when that would exceed `maxSize` points.
    static BrushCursor make(float brushSize, CGFloat zoom, CGFloat maxSize);

    friend bool operator==(const BrushCursor&, const BrushCursor&) = default;
};

} // namespace velmora
