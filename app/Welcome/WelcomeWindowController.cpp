#include "Welcome/WelcomeWindowController.hpp"

#include "Welcome/WelcomeViewController.hpp"
#include "desktop/NSStoryboard.hpp"
#include "desktop/NSWindow.hpp"

namespace velmora {

void WelcomeWindowController::registerStoryboard() {
    NSStoryboard::registerController(storyboard, identifier, [] {
        auto controller = std::make_shared<WelcomeWindowController>();
        controller->setWindowLoader([] {
            auto window =
                std::make_shared<NSWindow>(CGRect{{0, 0}, {560, 480}},
                                           NSWindowStyleMask::titled | NSWindowStyleMask::closable |
                                               NSWindowStyleMask::miniaturizable);
            window->setTitle("Welcome to Velmora");
            window->setContentViewController(std::make_shared<WelcomeViewController>());
            return window;
        });
        return controller;
    });
}

void WelcomeWindowController::windowDidLoad() {
    NSWindowController::windowDidLoad();
    const auto shown = window();
    shown->setMovableByWindowBackground(true);
    shown->center();
}

} // namespace velmora
