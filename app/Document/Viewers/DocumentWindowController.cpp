#include "Document/Viewers/DocumentWindowController.hpp"

#include "App/AppDelegate.hpp"
#include "desktop/NSApplication.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NotificationCenter.hpp"
#include "foundation/DispatchQueue.hpp"
#include "foundation/FatalError.hpp"

#include <QMainWindow>
#include <QScreen>
#include <string>

namespace velmora {

namespace {

void postMainWindowChanged() {
    // After the window's own change has been told to everyone.
    DispatchQueue::main().async([] {
        NotificationCenter::defaultCenter().post(std::string(mainWindowChangedNotification));
    });
}

} // namespace

void DocumentWindowController::windowDidLoad() {
    NSWindowController::windowDidLoad();
    const auto shown = window();
    if (shown == nullptr || shown->widget() == nullptr) {
        fatalError("A document window controller without its window");
    }
    shown->setDelegate(weakAs<DocumentWindowController>());
    QMainWindow& widget = *shown->widget();
    if (QScreen* screen = preferences_.preferredScreen()) {
        widget.setScreen(screen);
        widget.move(screen->availableGeometry().topLeft());
    }
    // Zoomed whether or not the preferred screen was found.
    widget.setWindowState(widget.windowState() | Qt::WindowMaximized);
}

void DocumentWindowController::windowDidBecomeMain(NSWindow&) {
    postMainWindowChanged();
}

void DocumentWindowController::windowDidResignMain(NSWindow&) {
    postMainWindowChanged();
}

void DocumentWindowController::windowDidExitVersionBrowser(NSWindow&) {
    if (const auto delegate =
            std::dynamic_pointer_cast<AppDelegate>(NSApplication::shared().delegate())) {
        delegate->showUtilityPanels();
    }
}

} // namespace velmora
