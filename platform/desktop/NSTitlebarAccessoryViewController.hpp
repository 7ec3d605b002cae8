#pragma once

#include "desktop/NSViewController.hpp"

namespace velmora {

enum class NSLayoutAttribute {
    left = 1,
    right = 2,
    top = 3,
    bottom = 4,
    leading = 5,
    trailing = 6
};

// A view shown with the window's title: right and trailing ones at the right
// end of the window's status bar, others at its left.
class NSTitlebarAccessoryViewController : public NSViewController {
public:
    NSLayoutAttribute layoutAttribute = NSLayoutAttribute::bottom;
};

} // namespace velmora
