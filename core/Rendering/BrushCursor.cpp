#include "Rendering/BrushCursor.hpp"

#include <cmath>

namespace velmora {

namespace {

// Beyond this the cursor bitmaps would take tens of megabytes; no pointer is that large.
constexpr double kLargestCursor = 2048;

} // namespace

BrushCursor BrushCursor::make(float brushSize, CGFloat zoom, CGFloat maxSize) {
    // 2 points of margin on every side.
    const double diameter = double(float(zoom) * brushSize) + 4.0;
    if (!(diameter <= maxSize) || !(diameter > 0) || diameter > kLargestCursor) {
        return crosshairCursor();
    }
    const int points = int(std::ceil(diameter));
    BrushCursor cursor;
    cursor.imageSize = {double(points), double(points)};
    cursor.hotSpot = {diameter / 2, diameter / 2};
    for (int scale : {1, 2}) {
        // The bitmap matches the image's whole points at this scale; the rings
        // are inscribed in the unrounded square.
        GrayAlphaBitmap bitmap(points * scale, points * scale);
        const double p = scale * diameter;
        const double white = scale + 2, black = 2;
        bitmap.strokeCircle({white, white}, p - 2 * white, scale, 1);
        bitmap.strokeCircle({black, black}, p - 2 * black, scale, 0);
        cursor.representations.push_back(std::move(bitmap));
    }
    return cursor;
}

} // namespace velmora
