#include "App/PreferencesWindowController.hpp"

#include "App/PreferencesViewController.hpp"
#include "desktop/NSPanel.hpp"
#include "desktop/NSStoryboard.hpp"

namespace velmora {

void PreferencesWindowController::registerStoryboard() {
    NSStoryboard::registerController(storyboard, identifier, [] {
        auto controller = std::make_shared<PreferencesWindowController>();
        controller->setWindowLoader([] {
            // A panel: never main, so it shows no menu bar of its own.
            auto window =
                std::make_shared<NSPanel>(CGRect{{0, 0}, {460, 200}},
                                          NSWindowStyleMask::titled | NSWindowStyleMask::closable);
            window->setHidesOnDeactivate(false);
            window->setTitle("Preferences");
            window->setContentViewController(std::make_shared<PreferencesViewController>());
            return window;
        });
        return controller;
    });
}

} // namespace velmora
