#include "desktop/NSApplication.hpp"

#include "desktop/NSApplicationDelegate.hpp"
#include "desktop/NSBeep.hpp"
#include "desktop/NSDocument.hpp"
#include "desktop/NSDocumentController.hpp"
#include "desktop/NSMenu.hpp"
#include "desktop/NSMenuItem.hpp"
#include "desktop/NSPanel.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"
#include "desktop/NotificationCenter.hpp"
#include "desktop/QtMainQueue.hpp"
#include "desktop/UndoManager.hpp"
#include "foundation/UserDefaults.hpp"

#include <QApplication>
#include <QEventLoop>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <algorithm>
#include <string>

namespace velmora {

namespace {

// Visits the responders of a window in chain order, then its document.
NSResponder* targetInWindow(NSWindow& window, std::string_view action) {
    std::shared_ptr<NSResponder> first = window.firstResponder();
    if (!first) {
        first = window.sharedAs<NSResponder>();
    }
    if (NSResponder* target = first ? first->targetForAction(action) : nullptr) {
        return target;
    }
    if (const auto controller = window.windowController()) {
        if (const auto document = controller->documentResponder();
            document && document->respondsToAction(action)) {
            return document.get();
        }
    }
    return nullptr;
}

void openAndDisplay(const std::vector<URL>& urls) {
    for (const URL& url : urls) {
        NSDocumentController::shared().openDocument(
            url, true, [](const std::shared_ptr<NSDocument>&, bool, std::exception_ptr error) {
                if (error) {
                    try {
                        std::rethrow_exception(error);
                    } catch (const std::exception& failure) {
                        NSDocument::presentErrorModally(failure);
                    }
                }
            });
    }
}

} // namespace

NSApplication::NSApplication() {
    setAction("undo:", [this](NSObject*) {
        if (const auto manager = currentUndoManager()) {
            manager->undo();
        }
    });
    setAction("redo:", [this](NSObject*) {
        if (const auto manager = currentUndoManager()) {
            manager->redo();
        }
    });
    setAction("performClose:", [](NSObject* sender) {
        if (const auto window = NSWindow::keyWindow()) {
            window->performClose(sender);
        }
    });
    setAction("terminate:", [this](NSObject*) { terminate(); });
}

NSApplication& NSApplication::shared() {
    // Lives until exit; made on first use like the platform's.
    static auto* shared = new std::shared_ptr<NSApplication>(new NSApplication);
    return **shared;
}

void NSApplication::finishLaunching() {
    if (launched_) {
        return;
    }
    launched_ = true;
    QtMainQueue::bind();
    auto& center = NotificationCenter::defaultCenter();
    center.post(std::string(willFinishLaunchingNotification), this);
    if (delegate_) {
        delegate_->applicationWillFinishLaunching(*this);
    }
    auto& controller = NSDocumentController::shared();
    if (controller.documents().empty() &&
        (!delegate_ || delegate_->applicationShouldOpenUntitledFile(*this))) {
        try {
            controller.openUntitledDocumentAndDisplay(true);
        } catch (const std::exception& error) {
            NSDocument::presentErrorModally(error);
        }
    }
    center.post(std::string(didFinishLaunchingNotification), this);
    if (delegate_) {
        delegate_->applicationDidFinishLaunching(*this);
    }
}

int NSApplication::run() {
    // Closing the last window does not quit; only terminate does.
    QApplication::setQuitOnLastWindowClosed(false);
    finishLaunching();
    running_ = true;
    const int status = QApplication::exec();
    running_ = false;
    return status;
}

bool NSApplication::hasVisibleWindows() const {
    return std::ranges::any_of(NSWindow::orderedWindows(),
                               [](const auto& window) { return window->canBecomeMainWindow(); });
}

void NSApplication::reopen(bool hasVisibleWindows) {
    if (terminating_) {
        return;
    }
    if (hasVisibleWindows) {
        for (const auto& window : NSWindow::orderedWindows()) {
            if (window->canBecomeMainWindow()) {
                window->makeKeyAndOrderFront(nullptr);
                window->widget()->raise();
                return;
            }
        }
    }
    if (!delegate_ || delegate_->applicationShouldOpenUntitledFile(*this)) {
        try {
            NSDocumentController::shared().openUntitledDocumentAndDisplay(true);
        } catch (const std::exception& error) {
            NSDocument::presentErrorModally(error);
        }
    }
}

void NSApplication::openURLs(std::vector<URL> urls) {
    if (terminating_) {
        return;
    }
    if (!modalSessions_.empty()) {
        // A document must not open under a running alert or panel.
        QTimer::singleShot(100,
                           [this, urls = std::move(urls)]() mutable { openURLs(std::move(urls)); });
        return;
    }
    if (delegate_) {
        delegate_->applicationOpenURLs(*this, urls);
    } else {
        openAndDisplay(urls);
    }
}

void NSApplicationDelegate::applicationOpenURLs(NSApplication&, const std::vector<URL>& urls) {
    openAndDisplay(urls);
}

void NSApplication::terminate() {
    if (!NSDocumentController::shared().closeAllDocumentsForTermination()) {
        return;
    }
    // Only a quit that ends the loop is final; without it (tests) nothing ends.
    terminating_ = running_;
    NotificationCenter::defaultCenter().post(std::string(willTerminateNotification), this);
    if (delegate_) {
        delegate_->applicationWillTerminate(*this);
    }
    UserDefaults::standard().synchronize();
    for (auto& session : modalSessions_) {
        session.code = NSModalResponseAbort;
    }
    // Only the loop run() started ends; without it (tests) a pending exit would
    // end the next loop anyone starts.
    if (running_) {
        QCoreApplication::exit(0);
    }
}

NSModalResponse NSApplication::runModal(std::shared_ptr<NSWindow> window) {
    QEventLoop loop;
    modalSessions_.push_back({window, &loop, NSModalResponseContinue});
    QMainWindow* widget = window->widget();
    const Qt::WindowModality modality = widget->windowModality();
    if (widget->isVisible()) {
        // Modality takes effect only when the window is shown again.
        widget->hide();
    }
    widget->setWindowModality(Qt::ApplicationModal);
    // A menu bar it got as a main window before would stay usable inside the dialog.
    QWidget* menuBar = widget->menuWidget();
    const bool hadMainMenu = menuBar && !menuBar->actions().isEmpty();
    if (menuBar) {
        menuBar->hide();
    }
    window->makeKeyAndOrderFront(nullptr);
    if (modalSessions_.back().code == NSModalResponseContinue) {
        loop.exec();
    }
    const NSModalResponse code = modalSessions_.back().code;
    modalSessions_.pop_back();
    if (QMainWindow* still = window->widget()) {
        still->setWindowModality(modality);
        if (QWidget* bar = still->menuWidget(); bar && hadMainMenu) {
            bar->show();
        }
    }
    return code;
}

void NSApplication::stopModal(NSModalResponse code) {
    if (modalSessions_.empty()) {
        return;
    }
    auto& session = modalSessions_.back();
    session.code = code;
    session.loop->quit();
}

std::shared_ptr<NSWindow> NSApplication::modalWindow() const {
    return modalSessions_.empty() ? nullptr : modalSessions_.back().window.lock();
}

bool NSApplication::showsMainMenu(const NSWindow& window) const {
    // A window run modally is a dialog, whatever its kind: its menu bar would
    // offer commands the modal run refuses.
    const bool modal = std::ranges::any_of(modalSessions_, [&](const ModalSession& session) {
        return session.window.lock().get() == &window;
    });
    return window.canBecomeMainWindow() && window.widget() && !modal;
}

void NSApplication::setMainMenu(std::shared_ptr<NSMenu> menu) {
    mainMenu_ = std::move(menu);
    if (const auto window = mainMenu_ ? mainMenu_->itemWithTitle("Window") : nullptr;
        window && window->submenu()) {
        setWindowsMenu(window->submenu());
    }
    for (const auto& window : NSWindow::orderedWindows()) {
        if (showsMainMenu(*window)) {
            installMainMenu(*window->widget()->menuBar());
        }
    }
    if (windowObserver_ == 0) {
        windowObserver_ = NSWindow::addObserver([this](NSWindow& window, std::string_view name) {
            if (name != NSWindow::didBecomeMainNotification || !mainMenu_ ||
                !showsMainMenu(window)) {
                return;
            }
            QMenuBar* bar = window.widget()->menuBar();
            if (bar->actions().isEmpty()) {
                installMainMenu(*bar);
            }
        });
    }
}

void NSApplication::setWindowsMenu(std::shared_ptr<NSMenu> menu) {
    if (windowsMenu_) {
        for (const auto& item : std::exchange(windowItems_, {})) {
            windowsMenu_->removeItem(item);
        }
        windowsMenu_->menuNeedsUpdate = nullptr;
    }
    windowsMenu_ = std::move(menu);
    if (windowsMenu_) {
        windowsMenu_->menuNeedsUpdate = [this](NSMenu& opened) { updateWindowsMenu(opened); };
    }
}

void NSApplication::updateWindowsMenu(NSMenu& menu) {
    for (const auto& item : std::exchange(windowItems_, {})) {
        menu.removeItem(item);
    }
    std::vector<std::shared_ptr<NSWindow>> panels;
    std::vector<std::shared_ptr<NSWindow>> documents;
    for (const auto& window : NSWindow::windows()) {
        if (window->isExcludedFromWindowsMenu() || window->isSheet() ||
            !contains(window->styleMask(), NSWindowStyleMask::titled)) {
            continue;
        }
        const auto* panel = dynamic_cast<const NSPanel*>(window.get());
        const auto controller = window->windowController();
        if (panel != nullptr && panel->isFloatingPanel()) {
            panels.push_back(window);
        } else if (controller && controller->documentResponder() && window->isVisible()) {
            documents.push_back(window);
        }
    }
    for (const auto* group : {&panels, &documents}) {
        if (group->empty()) {
            continue;
        }
        windowItems_.push_back(NSMenuItem::separatorItem());
        for (const auto& window : *group) {
            auto item = std::make_shared<NSMenuItem>(window->title(), "makeKeyAndOrderFront:");
            item->setTarget(window);
            windowItems_.push_back(std::move(item));
        }
    }
    for (const auto& item : windowItems_) {
        menu.addItem(item);
    }
}

void NSApplication::installMainMenu(QMenuBar& bar) const {
    bar.clear();
    if (!mainMenu_) {
        return;
    }
    for (const auto& item : mainMenu_->items()) {
        if (const auto submenu = item->submenu()) {
            bar.addMenu(submenu->qMenu());
        }
    }
}

std::shared_ptr<NSMenu> NSApplication::makeStandardMainMenu(std::string_view applicationName) {
    auto main = std::make_shared<NSMenu>("Main Menu");
    const auto submenu = [&](std::string_view title) {
        auto menu = std::make_shared<NSMenu>(title);
        main->addItem(title, {})->setSubmenu(menu);
        return menu;
    };
    const auto application = submenu(applicationName);
    application->addItem("Quit " + std::string(applicationName), "terminate:", "Ctrl+Q");
    const auto file = submenu("File");
    file->addItem("New", "newDocument:", "Ctrl+N");
    file->addItem("Open…", "openDocument:", "Ctrl+O");
    file->addItem(NSMenuItem::separatorItem());
    file->addItem("Close", "performClose:", "Ctrl+W");
    file->addItem("Save", "saveDocument:", "Ctrl+S");
    file->addItem("Save As…", "saveDocumentAs:", "Ctrl+Shift+S");
    auto revert = std::make_shared<NSMenu>("Revert To");
    revert->addItem("Last Saved Version", "revertDocumentToSaved:");
    revert->addItem("Browse All Versions…", "browseDocumentVersions:");
    file->addItem("Revert To", {})->setSubmenu(revert);
    const auto edit = submenu("Edit");
    edit->addItem("Undo", "undo:", "Ctrl+Z");
    edit->addItem("Redo", "redo:", "Ctrl+Shift+Z");
    submenu("Window")->addItem("Minimize", "performMiniaturize:", "Ctrl+M");
    return main;
}

NSResponder* NSApplication::targetForAction(std::string_view action) {
    const auto key = NSWindow::keyWindow();
    if (key) {
        if (NSResponder* target = targetInWindow(*key, action)) {
            return target;
        }
    }
    if (const auto main = NSWindow::mainWindow(); main && main != key) {
        if (NSResponder* target = targetInWindow(*main, action)) {
            return target;
        }
    }
    if (respondsToAction(action)) {
        return this;
    }
    if (delegate_ && delegate_->respondsToAction(action)) {
        return delegate_.get();
    }
    auto& controller = NSDocumentController::shared();
    return controller.respondsToAction(action) ? &controller : nullptr;
}

bool NSApplication::validate(NSMenuItem& item) {
    if (item.action().empty()) {
        return item.submenu() != nullptr;
    }
    NSResponder* target = item.target().get();
    if (target == nullptr) {
        target = targetForAction(item.action());
    } else if (!target->respondsToAction(item.action())) {
        return false;
    }
    if (target == nullptr) {
        return false;
    }
    if (target == this && (item.action() == "undo:" || item.action() == "redo:")) {
        const auto manager = currentUndoManager();
        const bool undo = item.action() == "undo:";
        if (!manager) {
            item.setTitle(undo ? "Undo" : "Redo");
        } else {
            item.setTitle(undo ? manager->undoMenuItemTitle() : manager->redoMenuItemTitle());
        }
    }
    return target->validateMenuItem(item);
}

bool NSApplication::validateMenuItem(const NSMenuItem& item) {
    if (item.action() == "undo:" || item.action() == "redo:") {
        const auto manager = currentUndoManager();
        return manager && (item.action() == "undo:" ? manager->canUndo() : manager->canRedo());
    }
    if (item.action() == "performClose:") {
        return NSWindow::keyWindow() != nullptr;
    }
    return true;
}

bool NSApplication::sendAction(NSMenuItem& item) {
    const auto menu = item.menu();
    const bool enabled = (!menu || menu->autoenablesItems()) ? validate(item) : item.isEnabled();
    if (!enabled) {
        NSBeep();
        return false;
    }
    if (const auto target = item.target()) {
        target->performAction(item.action(), &item);
        return true;
    }
    return sendAction(item.action(), &item);
}

bool NSApplication::sendAction(std::string_view action, NSObject* sender) {
    NSResponder* target = targetForAction(action);
    if (target == nullptr) {
        return false;
    }
    // The target may release the last other reference to itself while it runs.
    const auto keep = target->sharedAs<NSResponder>();
    target->performAction(action, sender);
    return true;
}

std::shared_ptr<UndoManager> NSApplication::currentUndoManager() const {
    for (const auto& window : {NSWindow::keyWindow(), NSWindow::mainWindow()}) {
        if (!window) {
            continue;
        }
        std::shared_ptr<NSResponder> first = window->firstResponder();
        return first ? first->undoManager() : window->undoManager();
    }
    return nullptr;
}

} // namespace velmora
