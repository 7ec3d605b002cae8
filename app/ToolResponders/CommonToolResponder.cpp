#include "ToolResponders/CommonToolResponder.hpp"

#include "foundation/FatalError.hpp"

namespace velmora {

std::shared_ptr<NSCursor> CommonToolResponder::cursor() const {
    return NSCursor::arrowCursor();
}

void CommonToolResponder::swipe(const NSEvent& event) {
    if (event.deltaX() == 0) {
        return;
    }
    // The delegate owns its responders, so it outlives them.
    const auto delegate = commonToolDelegate();
    precondition(delegate != nullptr, "A tool responder swiped without its delegate");
    const auto undoManager = delegate->undoManager();
    if (undoManager == nullptr) {
        return;
    }
    if (event.deltaX() > 0) {
        undoManager->redo();
    } else {
        undoManager->undo();
    }
}

void CommonToolResponder::scrollWheel(const NSEvent& event, CGPoint) {
    if (scrollHandler_) {
        scrollHandler_(event);
    }
}

} // namespace velmora
