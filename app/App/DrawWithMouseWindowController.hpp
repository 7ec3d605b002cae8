#pragma once

#include "desktop/NSWindowController.hpp"
#include "desktop/NSWindowDelegate.hpp"

#include <memory>

namespace velmora {

// The warning shown when a mouse tries to draw while only a stylus may:
// keep drawing with the mouse disabled or enable it; a check box stops the
// warning for good. It runs application-modal from its showing.
class DrawWithMouseWindowController : public NSWindowController, public NSWindowDelegate {
public:
    static constexpr const char* storyboard = "Main";
    static constexpr const char* identifier = "DrawWithMouseWindowController";

    // Registers the builder under (storyboard, identifier).
    static void registerStoryboard();

    // Shows the warning and returns when it is answered; nothing when the
    // warning is disabled or already open.
    static void showIfNotDisabled();

    // The window's close button answers as "keep disabled".
    bool windowShouldClose(NSWindow& window) override;
};

} // namespace velmora
