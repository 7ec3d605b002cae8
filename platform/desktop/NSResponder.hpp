#pragma once

#include "desktop/NSObject.hpp"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace velmora {

class NSMenuItem;  // desktop/NSMenuItem.hpp
class UndoManager; // desktop/UndoManager.hpp

// A link of the responder chain. Actions are named by their selector text
// ("undo:", "newDocument:"); a responder handles the ones it registered with
// `setAction` or answers for by overriding `respondsToAction`/`performAction`.
// The chain runs from a window's first responder (the innermost view
// controller around the focused widget) through its view controllers to the
// window and its window controller; the application continues from there.
class NSResponder : public NSObject {
public:
    using Action = std::function<void(NSObject* sender)>;

    // The explicit link; view controllers and windows compute theirs when none is set.
    virtual std::shared_ptr<NSResponder> nextResponder() const { return nextResponder_.lock(); }
    void setNextResponder(std::weak_ptr<NSResponder> responder) {
        nextResponder_ = std::move(responder);
    }

    // The undo manager for edits made through this responder: the next
    // responder's by default; a window answers from its delegate or document.
    virtual std::shared_ptr<UndoManager> undoManager();

    void setAction(std::string action, Action handler);
    void removeAction(std::string_view action);
    virtual bool respondsToAction(std::string_view action) const;
    // Runs the handler; an action this responder does not handle does nothing.
    virtual void performAction(std::string_view action, NSObject* sender);

    // The first responder from this one up the chain that handles the action.
    NSResponder* targetForAction(std::string_view action);
    // Performs the action on that responder; false when none handles it.
    bool tryToPerform(std::string_view action, NSObject* sender);

    // Asked before a menu item whose action this responder handles opens or
    // fires by its shortcut; enabled unless overridden.
    virtual bool validateMenuItem(const NSMenuItem& item);

    virtual bool acceptsFirstResponder() const { return false; }
    virtual bool becomeFirstResponder() { return true; }
    virtual bool resignFirstResponder() { return true; }

private:
    std::weak_ptr<NSResponder> nextResponder_;
    std::map<std::string, Action, std::less<>> actions_;
};

} // namespace velmora
