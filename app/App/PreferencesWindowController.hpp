#pragma once

#include "desktop/NSWindowController.hpp"

namespace velmora {

// The preferences window: the preferences pane in a small panel, which the
// pane centres whenever it is shown.
class PreferencesWindowController : public NSWindowController {
public:
    static constexpr const char* storyboard = "Main";
    static constexpr const char* identifier = "Preferences";

    // Registers the builder under (storyboard, identifier).
    static void registerStoryboard();
};

} // namespace velmora
