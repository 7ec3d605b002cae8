#include "desktop/NSResponder.hpp"

#include "foundation/FatalError.hpp"

namespace velmora {

namespace {
// A chain longer than this has a loop: a wrong link set by hand.
constexpr int maximumChainLength = 1024;
} // namespace

std::shared_ptr<UndoManager> NSResponder::undoManager() {
    std::shared_ptr<NSResponder> next = nextResponder();
    return next ? next->undoManager() : nullptr;
}

void NSResponder::setAction(std::string action, Action handler) {
    actions_.insert_or_assign(std::move(action), std::move(handler));
}

void NSResponder::removeAction(std::string_view action) {
    if (auto found = actions_.find(action); found != actions_.end()) {
        actions_.erase(found);
    }
}

bool NSResponder::respondsToAction(std::string_view action) const {
    return actions_.find(action) != actions_.end();
}

void NSResponder::performAction(std::string_view action, NSObject* sender) {
    if (auto found = actions_.find(action); found != actions_.end()) {
        // A copy: the handler may replace or remove its own entry.
        Action handler = found->second;
        handler(sender);
    }
}

NSResponder* NSResponder::targetForAction(std::string_view action) {
    NSResponder* responder = this;
    std::shared_ptr<NSResponder> held;
    for (int length = 0; responder; ++length) {
        if (length == maximumChainLength) {
            fatalError("The responder chain loops");
        }
        if (responder->respondsToAction(action)) {
            return responder;
        }
        held = responder->nextResponder();
        responder = held.get();
    }
    return nullptr;
}

bool NSResponder::tryToPerform(std::string_view action, NSObject* sender) {
    NSResponder* target = targetForAction(action);
    if (!target) {
        return false;
    }
    // The target may drop the last other reference to itself while it runs.
    std::shared_ptr<NSResponder> keep = target->sharedAs<NSResponder>();
    target->performAction(action, sender);
    return true;
}

bool NSResponder::validateMenuItem(const NSMenuItem&) {
    return true;
}

} // namespace velmora
