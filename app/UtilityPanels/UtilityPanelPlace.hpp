#pragma once

#include "graphics/CGGeometry.hpp"

namespace velmora {

// Where a utility panel opens on first run, measured from the top corners of
// its screen's visible area (points), so that the panels stand along the top
// of the screen whatever its height.
struct UtilityPanelPlace {
    // Room kept above each panel for a title bar that the window manager adds.
    static constexpr double titleBarAllowance = 28;

    // From the left edge, or from the right edge when `fromRightEdge`.
    double inset = 0;
    // From the top edge, below the title bar allowance.
    double fromTop = 0;
    bool fromRightEdge = false;

    // The panel's offset from the visible area's origin (bottom left, y
    // upwards), kept inside the area as far as the panel fits.
    CGPoint defaultFrameOrigin(CGSize panel, CGRect visibleArea) const;
};

} // namespace velmora
