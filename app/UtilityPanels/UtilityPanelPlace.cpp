#include "UtilityPanels/UtilityPanelPlace.hpp"

#include <algorithm>

namespace velmora {

CGPoint UtilityPanelPlace::defaultFrameOrigin(CGSize panel, CGRect visibleArea,
                                              double clearTop) const {
    const double x = fromRightEdge ? visibleArea.width() - inset - panel.width : inset;
    const double y = visibleArea.height() - clearTop - fromTop - panel.height;
    // On a screen too small for the place the panel's top left stays in view.
    const double top = visibleArea.height() - panel.height;
    return {std::clamp(x, 0.0, std::max(0.0, visibleArea.width() - panel.width)),
            std::max(std::min(y, top), std::min(0.0, top))};
}

} // namespace velmora
