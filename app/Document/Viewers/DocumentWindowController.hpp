#pragma once

#include "App/Preferences.hpp"
#include "desktop/NSWindowController.hpp"
#include "desktop/NSWindowDelegate.hpp"

#include <string_view>

namespace velmora {

// Posted, without object, a main-queue turn after a document window became or
// stopped being the main window.
inline constexpr std::string_view mainWindowChangedNotification = "mainWindowChangedNotification";

// The controller of a document's window: places it maximized on the preferred
// screen and reports main-window changes. Main thread only.
class DocumentWindowController : public NSWindowController, public NSWindowDelegate {
public:
    explicit DocumentWindowController(std::shared_ptr<NSWindow> window = nullptr,
                                      Preferences& preferences = Preferences::shared())
        : NSWindowController(std::move(window)), preferences_(preferences) {}

    void windowDidLoad() override;
    void windowDidBecomeMain(NSWindow& window) override;
    void windowDidResignMain(NSWindow& window) override;
    // The utility panels come back when the versions browser closes.
    void windowDidExitVersionBrowser(NSWindow& window) override;

private:
    Preferences& preferences_;
};

} // namespace velmora
