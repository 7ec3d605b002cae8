#pragma once

#include "graphics/CGGeometry.hpp"

namespace velmora {

// Where a utility panel opens on first run, measured from the top corners of
// its screen's visible area (points), so that the panels stand along the top
// of the screen whatever its height, below a band kept clear for the title
// bar and menu bar of a maximised document window.
struct UtilityPanelPlace {
    // A title bar that the window manager adds, at its largest usual height.
    static constexpr double titleBarAllowance = 28;

    // From the left edge, or from the right edge when `fromRightEdge`.
    double inset = 0;
    // From the top edge, below the band kept clear.
    double fromTop = 0;
    bool fromRightEdge = false;

    // The offset of the panel's frame origin from the visible area's origin
    // (bottom left, y upwards), with `clearTop` points kept free along the
    // area's top; kept inside the area as far as the panel fits.
    CGPoint defaultFrameOrigin(CGSize panel, CGRect visibleArea, double clearTop) const;
};

} // namespace velmora
