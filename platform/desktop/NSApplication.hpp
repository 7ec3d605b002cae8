#pragma once

#include "desktop/NSModalResponse.hpp"
#include "desktop/NSResponder.hpp"
#include "foundation/URL.hpp"

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

class QEventLoop;
class QMenuBar;

namespace velmora {

class NSApplicationDelegate;
class NSMenu;
class NSMenuItem;
class NSWindow;
class UndoManager;

// The application object: launching and quitting with its delegate, modal
// runs, the main menu and the way its actions find their target:
//   the key window's first responder up to its window and window controller,
//   the key window's document, then the same for the main window, then the
//   application itself, its delegate, and the shared document controller.
// The application answers "undo:" and "redo:" (with the undo manager the key
// window's responders give: none disables them), "performClose:" for the key
// window and "terminate:". Main thread only.
class NSApplication : public NSResponder {
public:
    static constexpr std::string_view willFinishLaunchingNotification =
        "NSApplicationWillFinishLaunchingNotification";
    static constexpr std::string_view didFinishLaunchingNotification =
        "NSApplicationDidFinishLaunchingNotification";
    static constexpr std::string_view willTerminateNotification =
        "NSApplicationWillTerminateNotification";

    static NSApplication& shared();

    std::shared_ptr<NSApplicationDelegate> delegate() const { return delegate_; }
    void setDelegate(std::shared_ptr<NSApplicationDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    // Binds the main queue to Qt's loop, tells the delegate, and opens an
    // untitled document when none is open and the delegate agrees.
    void finishLaunching();
    bool isRunning() const { return running_; }
    // finishLaunching, then Qt's event loop until terminate.
    int run();

    // Whether a window that can be main is on screen (panels do not count).
    bool hasVisibleWindows() const;
    // Reactivation, as when the program is launched again: without visible
    // windows the delegate is asked whether to open an untitled document;
    // with them the frontmost comes forward, minimised or not.
    void reopen(bool hasVisibleWindows);
    // Opens files handed over by another launch through the delegate, after
    // any modal run has ended.
    void openURLs(std::vector<URL> urls);
    // Set once a quit has been agreed to: nothing should open any more.
    bool isTerminating() const { return terminating_; }
    // "terminate:": every document may close (autosaving or asking); any that
    // refuses cancels the quit. Then the delegate hears of it and the loop ends.
    void terminate();

    // Shows the window application-modal and runs a nested event loop until
    // stopModal; answers the code given. The main queue and timers keep running.
    // Holds its own reference, since the caller's may be reset during the run.
    NSModalResponse runModal(std::shared_ptr<NSWindow> window);
    // Ends the innermost modal run with NSModalResponseStop (or the code) once
    // the current event is done; nothing when no modal run is active.
    void stopModal(NSModalResponse code = NSModalResponseStop);
    void abortModal() { stopModal(NSModalResponseAbort); }
    std::shared_ptr<NSWindow> modalWindow() const;

    std::shared_ptr<NSMenu> mainMenu() const { return mainMenu_; }
    // Every window that can be main shows it in its menu bar (from the moment
    // it is main, for windows made later); panels and sheets share its shortcuts.
    // Its submenu titled "Window" becomes the windows menu.
    void setMainMenu(std::shared_ptr<NSMenu> menu);
    // Each time it opens, after its own items (Minimize), it lists each
    // floating panel by its title, closed or not, then each document window
    // on screen; choosing one shows it and brings it to the front.
    std::shared_ptr<NSMenu> windowsMenu() const { return windowsMenu_; }
    void setWindowsMenu(std::shared_ptr<NSMenu> menu);
    // Puts the main menu's submenus into a menu bar.
    void installMainMenu(QMenuBar& bar) const;
    // Whether the window shows the main menu: one that can be main, not while
    // it is run modally (a dialog).
    bool showsMainMenu(const NSWindow& window) const;
    // File (New, Open…, Close, Save, Save As…, Revert To > Last Saved Version,
    // Browse All Versions…), Edit (Undo, Redo), Window (Minimize) and the
    // application's menu with Quit.
    static std::shared_ptr<NSMenu> makeStandardMainMenu(std::string_view applicationName);

    // The responder that would perform the action now, if any.
    NSResponder* targetForAction(std::string_view action);
    // Performs the item's action on its target (or the chain's) after validating
    // it; a disabled item sounds the beep instead. False when nothing performed it.
    bool sendAction(NSMenuItem& item);
    bool sendAction(std::string_view action, NSObject* sender = nullptr);
    // Whether the item may fire now, as its target (or the chain's) says;
    // titles Undo and Redo after the undo manager's action names.
    bool validate(NSMenuItem& item);

    // The undo manager menus act on: the key window's responders', else the
    // main window's; none when no window gives one (a locked document).
    std::shared_ptr<UndoManager> currentUndoManager() const;

    // The application's own actions.
    bool validateMenuItem(const NSMenuItem& item) override;

private:
    NSApplication();
    void updateWindowsMenu(NSMenu& menu);

    struct ModalSession {
        std::weak_ptr<NSWindow> window;
        QEventLoop* loop;
        NSModalResponse code;
    };

    std::shared_ptr<NSApplicationDelegate> delegate_;
    std::shared_ptr<NSMenu> mainMenu_;
    std::shared_ptr<NSMenu> windowsMenu_;
    // The windows menu's items for the windows, made as it last opened.
    std::vector<std::shared_ptr<NSMenuItem>> windowItems_;
    std::vector<ModalSession> modalSessions_;
    std::uint64_t windowObserver_ = 0;
    bool running_ = false;
    bool launched_ = false;
    bool terminating_ = false;
};

} // namespace velmora
