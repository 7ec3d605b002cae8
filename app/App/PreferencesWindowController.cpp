#include "App/PreferencesWindowController.hpp"

#include "App/PreferencesViewController.hpp"
#include "desktop/NSStoryboard.hpp"
#include "desktop/NSWindow.hpp"

namespace velmora {

void PreferencesWindowController::registerStoryboard() {
    NSStoryboard::registerController(storyboard, identifier, [] {
        auto controller = std::make_shared<PreferencesWindowController>();
        controller->setWindowLoader([] {
            auto window =
                std::make_shared<NSWindow>(CGRect{{0, 0}, {460, 200}},
                                           NSWindowStyleMask::titled | NSWindowStyleMask::closable |
                                               NSWindowStyleMask::miniaturizable);
            window->setTitle("Preferences");
            window->setContentViewController(std::make_shared<PreferencesViewController>());
            return window;
        });
        return controller;
    });
}

} // namespace velmora
