#include "desktop/NSWindowController.hpp"

#include "desktop/NSDocument.hpp"
#include "desktop/NSPanel.hpp"
#include "desktop/NSViewController.hpp"
#include "desktop/NSWindow.hpp"

namespace velmora {

NSWindowController::NSWindowController(std::shared_ptr<NSWindow> window)
    : window_(std::move(window)) {}

NSWindowController::~NSWindowController() {
    if (window_ && window_->windowController().get() == this) {
        window_->setWindowController({});
    }
}

std::shared_ptr<NSWindow> NSWindowController::window() {
    if (!window_ && !loading_ && loader_) {
        loading_ = true;
        windowWillLoad();
        loadWindow();
        loading_ = false;
        if (window_) {
            adopt(window_);
            windowDidLoad();
        }
    } else if (window_ && window_->windowController().get() != this) {
        adopt(window_);
    }
    return window_;
}

void NSWindowController::setWindow(std::shared_ptr<NSWindow> window) {
    if (window_ == window) {
        return;
    }
    if (window_ && window_->windowController().get() == this) {
        window_->setWindowController({});
    }
    window_ = std::move(window);
    if (window_) {
        adopt(window_);
    }
}

void NSWindowController::loadWindow() {
    if (loader_) {
        window_ = loader_();
    }
}

void NSWindowController::adopt(const std::shared_ptr<NSWindow>& window) {
    window->setWindowController(weakAs<NSWindowController>());
    if (!autosaveName_.empty()) {
        window->setFrameAutosaveName(autosaveName_);
    }
    synchronizeWindowTitleWithDocumentName();
}

void NSWindowController::setDocument(std::weak_ptr<NSResponder> document) {
    document_ = std::move(document);
    synchronizeWindowTitleWithDocumentName();
}

void NSWindowController::synchronizeWindowTitleWithDocumentName() {
    const std::shared_ptr<NSDocument> shown = document();
    if (!window_ || !shown) {
        return;
    }
    window_->setTitle(shown->displayName());
    window_->setDocumentEdited(shown->isDocumentEdited());
}

std::shared_ptr<NSViewController> NSWindowController::contentViewController() {
    std::shared_ptr<NSWindow> shown = window();
    return shown ? shown->contentViewController() : nullptr;
}

void NSWindowController::setContentViewController(std::shared_ptr<NSViewController> controller) {
    if (std::shared_ptr<NSWindow> shown = window()) {
        shown->setContentViewController(std::move(controller));
    }
}

void NSWindowController::showWindow(NSObject*) {
    std::shared_ptr<NSWindow> shown = window();
    if (!shown) {
        return;
    }
    auto* panel = dynamic_cast<NSPanel*>(shown.get());
    if (shown->canBecomeKeyWindow() && !(panel && panel->becomesKeyOnlyIfNeeded())) {
        shown->makeKeyAndOrderFront();
    } else {
        shown->orderFront();
    }
}

void NSWindowController::close() {
    if (window_) {
        window_->close();
    }
}

void NSWindowController::setWindowFrameAutosaveName(std::string_view name) {
    autosaveName_ = std::string(name);
    if (window_) {
        window_->setFrameAutosaveName(name);
    }
}

} // namespace velmora
