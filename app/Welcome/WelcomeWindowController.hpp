#pragma once

#include "desktop/NSWindowController.hpp"

namespace velmora {

// The window shown instead of an untitled document: movable by its
// background and centred on its screen.
class WelcomeWindowController : public NSWindowController {
public:
    static constexpr const char* storyboard = "Main";
    static constexpr const char* identifier = "Welcome";

    // Registers the builder under (storyboard, identifier).
    static void registerStoryboard();

    void windowDidLoad() override;
};

} // namespace velmora
