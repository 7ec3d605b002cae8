#pragma once

#include "foundation/NSGeometry.hpp"

#include <QPoint>
#include <QRect>
#include <QSize>

namespace velmora {

// Where a popover stands beside its anchor, in global coordinates (y down): on
// the side the edge names in y-up terms (minY below the anchor, maxY above it),
// or on the opposite side when the screen has no room there but has it on the
// other. Along the other axis it is centred on the anchor and kept on screen;
// the arrow follows the anchor.
struct PopoverPlacement {
    static constexpr int arrowLength = 8;
    // Arrow half-width; the arrow keeps clear of the rounded corners.
    static constexpr int arrowHalfWidth = 9;
    static constexpr int cornerRadius = 6;

    NSRectEdge edge = NSRectEdge::maxY;
    // The window: the body plus the arrow.
    QRect frame;
    // The arrow's point, in the window's coordinates.
    QPoint arrowTip;

    static PopoverPlacement place(const QRect& anchor, QSize body, NSRectEdge edge,
                                  const QRect& screen);
    // The body inside the window, beside the arrow.
    QRect bodyRect() const;
};

} // namespace velmora
