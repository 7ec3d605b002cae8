#include "Document/DocumentConversionController.hpp"

#include "desktop/NSApplication.hpp"
#include "desktop/NSWindow.hpp"
#include "foundation/FatalError.hpp"

#include <QTimer>

namespace velmora {

std::shared_ptr<DocumentConversionController> DocumentConversionController::make() {
    auto controller = std::make_shared<DocumentConversionController>();
    controller->setWindowLoader([] {
        auto window =
            std::make_shared<NSWindow>(CGRect{{0, 0}, {420, 160}}, NSWindowStyleMask::titled);
        window->setTitle(panelTitle);
        window->setContentViewController(std::make_shared<DocumentConversionViewController>());
        return window;
    });
    return controller;
}

std::function<void(DocumentConversionViewController&)>&
DocumentConversionController::testResponder() {
    static std::function<void(DocumentConversionViewController&)> responder;
    return responder;
}

void DocumentConversionController::setUserResponse(ConversionControllerResponse response) {
    userResponse_ = response;
    if (const auto shown = window()) {
        shown->close();
    }
    NSApplication::shared().stopModal();
}

void DocumentConversionController::windowWillClose(NSWindow&) {
    // The buttons answer before they close the panel.
    if (!running_ || userResponse_) {
        return;
    }
    userResponse_ = ConversionControllerResponse::keep;
    NSApplication::shared().stopModal();
}

ConversionControllerResponse DocumentConversionController::runModal(const URL& url) {
    const auto content =
        std::dynamic_pointer_cast<DocumentConversionViewController>(contentViewController());
    if (!content) {
        fatalError("The conversion panel has no conversion view controller");
    }
    content->delegate = sharedAs<DocumentConversionController>();
    docURL_ = url;
    userResponse_.reset();
    content->viewWillAppear();
    if (const auto& responder = testResponder()) {
        QTimer::singleShot(0, [responder, weak = std::weak_ptr(content)] {
            if (const auto panel = weak.lock()) {
                responder(*panel);
            }
        });
    }
    const auto shown = window();
    shown->setDelegate(std::weak_ptr<NSWindowDelegate>(sharedAs<DocumentConversionController>()));
    shown->center();
    running_ = true;
    NSApplication::shared().runModal(shown);
    running_ = false;
    if (!userResponse_) {
        fatalError("The conversion panel ended without an answer");
    }
    return *userResponse_;
}

} // namespace velmora
