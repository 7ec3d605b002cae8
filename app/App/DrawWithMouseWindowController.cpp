#include "App/DrawWithMouseWindowController.hpp"

#include "App/DrawWithMouseViewController.hpp"
#include "App/Preferences.hpp"
#include "desktop/NSApplication.hpp"
#include "desktop/NSStoryboard.hpp"
#include "desktop/NSWindow.hpp"

namespace velmora {

namespace {

// Weak: the caller that shows the warning holds it while it runs.
std::weak_ptr<DrawWithMouseWindowController>& sharedInstance() {
    static std::weak_ptr<DrawWithMouseWindowController> instance;
    return instance;
}

} // namespace

void DrawWithMouseWindowController::registerStoryboard() {
    NSStoryboard::registerController(storyboard, identifier, [] {
        auto controller = std::make_shared<DrawWithMouseWindowController>();
        std::weak_ptr<DrawWithMouseWindowController> weak = controller;
        controller->setWindowLoader([weak] {
            auto window =
                std::make_shared<NSWindow>(CGRect{{0, 0}, {420, 160}},
                                           NSWindowStyleMask::titled | NSWindowStyleMask::closable);
            window->setTitle("Drawing with the Mouse");
            window->setContentViewController(std::make_shared<DrawWithMouseViewController>());
            window->setDelegate(weak);
            return window;
        });
        return controller;
    });
}

void DrawWithMouseWindowController::showIfNotDisabled() {
    if (Preferences::shared().drawingWithMouseWarningDisabled()) {
        return;
    }
    std::shared_ptr<DrawWithMouseWindowController> controller = sharedInstance().lock();
    if (controller && controller->window()->isVisible()) {
        return;
    }
    if (!controller) {
        controller = NSStoryboard::instantiateController<DrawWithMouseWindowController>(storyboard,
                                                                                        identifier);
        sharedInstance() = controller;
    }
    controller->window()->center();
    controller->showWindow();
}

bool DrawWithMouseWindowController::windowShouldClose(NSWindow&) {
    NSApplication::shared().stopModal();
    return true;
}

} // namespace velmora
