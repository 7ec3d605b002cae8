#pragma once

#include <memory>
#include <optional>

namespace velmora {

class NSWindow;
class UndoManager; // desktop/UndoManager.hpp

// What a window tells and asks its delegate; every member has the platform's
// default, so a delegate overrides only what it needs.
class NSWindowDelegate {
public:
    virtual ~NSWindowDelegate() = default;

    virtual bool windowShouldClose(NSWindow&) { return true; }
    virtual void windowWillClose(NSWindow&) {}
    virtual void windowDidBecomeKey(NSWindow&) {}
    virtual void windowDidResignKey(NSWindow&) {}
    virtual void windowDidBecomeMain(NSWindow&) {}
    virtual void windowDidResignMain(NSWindow&) {}
    virtual void windowDidMove(NSWindow&) {}
    virtual void windowDidResize(NSWindow&) {}
    // The versions browser opens beside the window or closes.
    virtual void windowWillEnterVersionBrowser(NSWindow&) {}
    virtual void windowDidEnterVersionBrowser(NSWindow&) {}
    virtual void windowWillExitVersionBrowser(NSWindow&) {}
    virtual void windowDidExitVersionBrowser(NSWindow&) {}

    // Nothing: the delegate does not answer and the window takes its
    // document's undo manager. An answer, even an empty one, is final.
    virtual std::optional<std::shared_ptr<UndoManager>> windowWillReturnUndoManager(NSWindow&) {
        return std::nullopt;
    }
};

} // namespace velmora
