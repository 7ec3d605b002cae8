#pragma once

#include "desktop/NSModalResponse.hpp"
#include "desktop/NSResponder.hpp"
#include "desktop/NSScreen.hpp"
#include "desktop/NSWindowDelegate.hpp"
#include "graphics/CGGeometry.hpp"

#include <QMainWindow>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QWidget;

namespace velmora {

class NSViewController;
class NSTitlebarAccessoryViewController;
class NSWindowController;
class NSWindowWidget;

enum class NSWindowStyleMask : std::uint64_t {
    borderless = 0,
    titled = 1 << 0,
    closable = 1 << 1,
    miniaturizable = 1 << 2,
    resizable = 1 << 3,
    utilityWindow = 1 << 4,
    nonactivatingPanel = 1 << 7,
    hudWindow = 1 << 13,
};
constexpr NSWindowStyleMask operator|(NSWindowStyleMask a, NSWindowStyleMask b) {
    return NSWindowStyleMask(std::uint64_t(a) | std::uint64_t(b));
}
constexpr bool contains(NSWindowStyleMask mask, NSWindowStyleMask flag) {
    return (std::uint64_t(mask) & std::uint64_t(flag)) == std::uint64_t(flag);
}

// Window levels by the platform's values: floating and above stay on top.
using NSWindowLevel = int;
inline constexpr NSWindowLevel NSNormalWindowLevel = 0;
inline constexpr NSWindowLevel NSFloatingWindowLevel = 3;
inline constexpr NSWindowLevel NSModalPanelWindowLevel = 8;

// A top-level window over a QMainWindow (its status bar holds the title-bar
// accessories). Frames are in screen points, y up (see NSScreen). Key and main
// state and the front-to-back order are this layer's own: the window activated
// or ordered front last comes first; the key window is the one typed into; the
// main window is the last key window that can be main (never a panel, sheet or
// popover). Main thread only; made with std::make_shared.
class NSWindow : public NSResponder {
public:
    // Told to the observers below, with the window.
    static constexpr std::string_view didBecomeKeyNotification = "NSWindowDidBecomeKeyNotification";
    static constexpr std::string_view didResignKeyNotification = "NSWindowDidResignKeyNotification";
    static constexpr std::string_view didBecomeMainNotification =
        "NSWindowDidBecomeMainNotification";
    static constexpr std::string_view didResignMainNotification =
        "NSWindowDidResignMainNotification";
    static constexpr std::string_view willCloseNotification = "NSWindowWillCloseNotification";
    static constexpr std::string_view didMoveNotification = "NSWindowDidMoveNotification";
    static constexpr std::string_view didResizeNotification = "NSWindowDidResizeNotification";
    static constexpr std::string_view willEnterVersionBrowserNotification =
        "NSWindowWillEnterVersionBrowserNotification";
    static constexpr std::string_view didEnterVersionBrowserNotification =
        "NSWindowDidEnterVersionBrowserNotification";
    static constexpr std::string_view willExitVersionBrowserNotification =
        "NSWindowWillExitVersionBrowserNotification";
    static constexpr std::string_view didExitVersionBrowserNotification =
        "NSWindowDidExitVersionBrowserNotification";

    static constexpr NSWindowStyleMask defaultStyle =
        NSWindowStyleMask::titled | NSWindowStyleMask::closable |
        NSWindowStyleMask::miniaturizable | NSWindowStyleMask::resizable;

    explicit NSWindow(CGRect contentRect = {{0, 0}, {480, 360}},
                      NSWindowStyleMask style = defaultStyle);
    ~NSWindow() override;

    // The Qt window; null only while the window is being destroyed.
    QMainWindow* widget() const;
    // The window whose Qt window holds `widget`, if any.
    static std::shared_ptr<NSWindow> windowOf(const QWidget* widget);

    std::string title() const;
    void setTitle(std::string_view title);
    // A window whose document has unsaved changes says so after its title.
    bool isDocumentEdited() const { return documentEdited_; }
    void setDocumentEdited(bool edited);
    NSWindowStyleMask styleMask() const { return style_; }

    QWidget* contentView() const;
    // The window owns a view that no view controller owns.
    void setContentView(QWidget* view);
    std::shared_ptr<NSViewController> contentViewController() const { return contentController_; }
    void setContentViewController(std::shared_ptr<NSViewController> controller);

    std::shared_ptr<NSWindowController> windowController() const { return controller_.lock(); }
    void setWindowController(std::weak_ptr<NSWindowController> controller);
    std::shared_ptr<NSWindowDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<NSWindowDelegate> delegate) { delegate_ = std::move(delegate); }

    // Frames include the window manager's decorations; screen points, y up.
    // Before the window is first shown its decorations are guessed (those
    // stored with a restored frame, else those of the last window of its
    // kind); the frame's top-left corner stays where it is put either way.
    CGRect frame() const;
    void setFrame(CGRect frame, bool display = true);
    void setFrameOrigin(CGPoint origin);
    void setFrameTopLeftPoint(CGPoint point);
    void setContentSize(CGSize size);
    // Centred in the visible frame of its screen.
    void center();
    std::shared_ptr<NSScreen> screen() const;

    bool isVisible() const;
    // Minimised by the window manager (the window stays visible and in order);
    // ordering it front brings it back.
    bool isMiniaturized() const;
    void miniaturize(NSObject* sender = nullptr);
    void deminiaturize(NSObject* sender = nullptr);
    void orderFront(NSObject* sender = nullptr);
    void orderOut(NSObject* sender = nullptr);
    void makeKeyAndOrderFront(NSObject* sender = nullptr);
    virtual void makeKeyWindow();
    void makeMainWindow();
    bool isKeyWindow() const;
    bool isMainWindow() const;
    virtual bool canBecomeKeyWindow() const;
    virtual bool canBecomeMainWindow() const;
    // Front to back among the windows on screen, from 0; -1 when not on screen.
    int orderedIndex() const;

    // Asks the delegate and then the window controller's document, which may
    // ask the user first; closes when both agree.
    void performClose(NSObject* sender = nullptr);
    // Closes at once: observers and delegate hear `willClose`, the frame is
    // saved, the window leaves the screen.
    void close();

    NSWindowLevel level() const { return level_; }
    void setLevel(NSWindowLevel level);
    double alphaValue() const { return alpha_; }
    void setAlphaValue(double alpha);
    bool isOpaque() const { return opaque_; }
    // A non-opaque window shows its content over a clear background.
    void setOpaque(bool opaque);
    bool hasShadow() const { return hasShadow_; }
    void setHasShadow(bool hasShadow);
    bool ignoresMouseEvents() const { return ignoresMouse_; }
    void setIgnoresMouseEvents(bool ignores);
    // Hidden while the application is inactive, shown again when it returns.
    bool hidesOnDeactivate() const { return hidesOnDeactivate_; }
    void setHidesOnDeactivate(bool hides) { hidesOnDeactivate_ = hides; }
    // Left out of the windows menu (see NSApplication::windowsMenu).
    bool isExcludedFromWindowsMenu() const { return excludedFromWindowsMenu_; }
    void setExcludedFromWindowsMenu(bool excluded) { excludedFromWindowsMenu_ = excluded; }
    bool isMovableByWindowBackground() const { return movableByBackground_; }
    void setMovableByWindowBackground(bool movable) { movableByBackground_ = movable; }

    // The frame is kept in the standard user defaults under "NSWindow Frame "
    // and the name: restored when the name is set (if stored), written when a
    // move or resize settles, at close and at quit. False when another window
    // already uses the name.
    std::string frameAutosaveName() const { return autosaveName_; }
    bool setFrameAutosaveName(std::string_view name);
    void saveFrameUsingName(std::string_view name) const;
    // False when nothing usable is stored.
    bool setFrameUsingName(std::string_view name);
    static std::string frameDefaultsKey(std::string_view name);

    // The delegate's answer, else the undo manager of the window controller's document.
    std::shared_ptr<UndoManager> undoManager() override;
    // The explicit link, else the window controller.
    std::shared_ptr<NSResponder> nextResponder() const override;
    // "performMiniaturize:" while the window can be minimised; the windows
    // menu's "makeKeyAndOrderFront:".
    bool validateMenuItem(const NSMenuItem& item) override;
    // An explicit one, else the view controller around the focused widget, else the window.
    std::shared_ptr<NSResponder> firstResponder();
    bool makeFirstResponder(std::shared_ptr<NSResponder> responder);

    // Sheets: window-modal dialogs over this window. The handler gets the code
    // given to `endSheet`, after the sheet left the screen. `endSheet` takes its
    // own reference: it clears `attachedSheet_`, which a caller may pass.
    void beginSheet(std::shared_ptr<NSWindow> sheet,
                    std::function<void(NSModalResponse)> completionHandler = {});
    void endSheet(std::shared_ptr<NSWindow> sheet,
                  NSModalResponse returnCode = NSModalResponseStop);
    std::shared_ptr<NSWindow> attachedSheet() const { return attachedSheet_; }
    std::shared_ptr<NSWindow> sheetParent() const { return sheetParent_.lock(); }
    bool isSheet() const { return kind_ == Kind::sheet; }

    // Told by the versions browser as it opens beside this window and as it
    // closes: the delegate first, then the observers. One of the four version
    // browser names above; any other name stops the program.
    void noteVersionBrowser(std::string_view notificationName);
    bool isInVersionBrowser() const { return inVersionBrowser_; }

    // Right accessories sit at the right end of the window's status bar, others at its left.
    void addTitlebarAccessoryViewController(
        std::shared_ptr<NSTitlebarAccessoryViewController> controller);
    const std::vector<std::shared_ptr<NSTitlebarAccessoryViewController>>&
    titlebarAccessoryViewControllers() const {
        return accessories_;
    }

    static std::shared_ptr<NSWindow> keyWindow();
    static std::shared_ptr<NSWindow> mainWindow();
    // On screen, front to back.
    static std::vector<std::shared_ptr<NSWindow>> orderedWindows();
    // Every window, on screen or not, in the order they were made.
    static std::vector<std::shared_ptr<NSWindow>> windows();

    // Observers of every window's notifications (the names above), which are
    // also posted to the default notification centre with the window as the
    // object. Removal inside a call is safe.
    using Observer = std::function<void(NSWindow& window, std::string_view name)>;
    static std::uint64_t addObserver(Observer observer);
    static void removeObserver(std::uint64_t token);

protected:
    enum class Kind { standard, panel, sheet, popover };
    NSWindow(Kind kind, CGRect contentRect, NSWindowStyleMask style);

    Kind kind() const { return kind_; }
    // Whether the window may take keyboard focus now; panels refuse it until needed.
    virtual bool acceptsFocusNow() const { return true; }
    void updateWindowFlags();
    virtual void didBecomeKey() {}
    virtual void didResignKey() {}

private:
    friend class NSWindowWidget;
    friend class NSPopover;

    void setKind(Kind kind);
    void showOnScreen(bool activate);
    void frameChanged(bool moved);
    void placeAttachedSheet();
    QMargins expectedDecorations() const;
    void qtActivated();
    void qtHidden();
    void qtCloseRequested();
    void applicationActivityChanged(bool active);
    void post(std::string_view name);
    void notifyAppearance(bool appear, bool will);
    void leaveScreen();
    static void changeKey(const std::shared_ptr<NSWindow>& window);
    static void changeMain(const std::shared_ptr<NSWindow>& window);

    Kind kind_;
    NSWindowStyleMask style_;
    QPointer<NSWindowWidget> widget_;
    std::shared_ptr<NSViewController> contentController_;
    std::weak_ptr<NSWindowController> controller_;
    std::weak_ptr<NSWindowDelegate> delegate_;
    std::weak_ptr<NSResponder> firstResponder_;
    std::shared_ptr<NSWindow> attachedSheet_;
    std::weak_ptr<NSWindow> sheetParent_;
    std::function<void(NSModalResponse)> sheetHandler_;
    std::vector<std::shared_ptr<NSTitlebarAccessoryViewController>> accessories_;
    std::string autosaveName_;
    // The window manager's decorations stored with the restored frame.
    std::optional<QMargins> storedDecorations_;
    NSWindowLevel level_ = NSNormalWindowLevel;
    double alpha_ = 1;
    bool opaque_ = true;
    bool hasShadow_ = true;
    bool ignoresMouse_ = false;
    bool hidesOnDeactivate_ = false;
    bool hiddenByDeactivation_ = false;
    bool movableByBackground_ = false;
    bool excludedFromWindowsMenu_ = false;
    bool inVersionBrowser_ = false;
    bool documentEdited_ = false;
    std::string title_;
};

} // namespace velmora
