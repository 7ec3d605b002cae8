#include "Document/FrontDocumentController.hpp"

#include "desktop/NSDocumentController.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"
#include "foundation/DispatchQueue.hpp"

namespace velmora {

FrontDocumentController& FrontDocumentController::shared() {
    static FrontDocumentController* controller = new FrontDocumentController();
    return *controller;
}

FrontDocumentController::FrontDocumentController() {
    auto& center = NotificationCenter::defaultCenter();
    activeDocumentObservation_ =
        center.addObserver(std::string(mainWindowChangedNotification), nullptr, std::nullopt,
                           [this](const Notification&) { update(); });
    // The closing window still lists its document: look once it has gone.
    windowObserver_ =
        NSWindow::addObserver([this, alive = std::weak_ptr<void>(activeDocumentObservation_)](
                                  NSWindow&, std::string_view name) {
            if (name != NSWindow::willCloseNotification) {
                return;
            }
            DispatchQueue::main().async([this, alive] {
                if (!alive.expired()) {
                    update();
                }
            });
        });
}

FrontDocumentController::~FrontDocumentController() {
    NSWindow::removeObserver(windowObserver_);
}

std::shared_ptr<NSDocument> FrontDocumentController::computeFrontDocument() {
    std::shared_ptr<NSDocument> front;
    int frontIndex = 0;
    for (const auto& document : NSDocumentController::shared().documents()) {
        for (const auto& controller : document->windowControllers()) {
            if (!controller->isWindowLoaded()) {
                continue;
            }
            const int index = controller->window()->orderedIndex();
            if (index >= 0 && (!front || index < frontIndex)) {
                front = document;
                frontIndex = index;
            }
        }
    }
    return front;
}

void FrontDocumentController::update() {
    const auto front = computeFrontDocument();
    // By the control block, so that a document freed meanwhile still differs
    // from none and from a new one made at the same address.
    const auto& current = frontDocument_.get();
    const bool same =
        front ? holdsDocument_ && !front.owner_before(current) && !current.owner_before(front)
              : !holdsDocument_;
    if (same) {
        return;
    }
    holdsDocument_ = front != nullptr;
    frontDocument_.set(front);
}

} // namespace velmora
