#include "App/AppDelegate.hpp"

#include "App/CrashPrompt.hpp"
#include "App/DrawWithMouseWindowController.hpp"
#include "App/PointingDeviceManager.hpp"
#include "App/PreferencesWindowController.hpp"
#include "Document/DocumentController.hpp"
#include "Document/FrontDocumentController.hpp"
#include "Document/Viewers/SnapshotStore.hpp"
#include "UtilityPanels/UtilityPanelStoryboards.hpp"
#include "UtilityPanels/UtilityWindowController.hpp"
#include "Utils/ValueTransformers.hpp"
#include "Welcome/WelcomeWindowController.hpp"
#include "desktop/NSAlert.hpp"
#include "desktop/NSApplication.hpp"
#include "desktop/NSDocument.hpp"
#include "desktop/NSMenu.hpp"
#include "desktop/NSMenuItem.hpp"
#include "desktop/NSPresentedError.hpp"
#include "desktop/NSStoryboard.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"
#include "desktop/NSWorkspace.hpp"
#include "foundation/CrashReporter.hpp"
#include "foundation/DispatchQueue.hpp"
#include "foundation/FatalError.hpp"
#include "foundation/LogHandles.hpp"

#include <QAction>
#include <QCoreApplication>
#include <algorithm>

namespace velmora {

namespace {

// A controller whose builder is not registered is left out: a panel still
// being made must not keep the program from starting.
std::shared_ptr<NSWindowController> instantiate(const AppDelegate::StoryboardKey& key) {
    if (!NSStoryboard::hasController(key.storyboard, key.identifier)) {
        return nullptr;
    }
    return NSStoryboard::instantiateController<NSWindowController>(key.storyboard, key.identifier);
}

void showOpenError(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const NSPresentedError&) {
        // Its thrower showed it already.
    } catch (const std::exception& failure) {
        NSAlert::alertWithError(failure)->runModal();
    }
}

} // namespace

AppDelegate::AppDelegate(std::vector<URL> filesToOpen)
    : diagnosticsProgram(standardDiagnosticsProgram()),
      terminateApplication([] { NSApplication::shared().terminate(); }),
      filesToOpen_(std::move(filesToOpen)) {
    customDocumentController_ = std::make_shared<DocumentController>();
    stylusManager_ = PointingDeviceManager::shared();
    registerValueTransformers();
    welcomeWindowController_ = instantiate(welcomeKey);
    for (const auto& key : panelKeys) {
        if (auto controller = instantiate(key)) {
            utilityPanelControllers_.push_back(std::move(controller));
        }
    }
    UtilityWindowController::setFrontDocumentUndoManagerProvider(
        []() -> std::shared_ptr<UndoManager> {
            const auto document = FrontDocumentController::shared().frontDocument();
            return document ? document->undoManager() : nullptr;
        });
    setAction("showPreferences:", [this](NSObject*) { showPreferences(); });
    setAction("reportBug:", [this](NSObject*) { reportBug(); });
    setAction("crash:", [](NSObject*) { fatalError("Crashing on purpose"); });
    setAction("insertDebugLogMarker:",
              [](NSObject*) { userActionsLogs().error("Debug Marker triggered by user"); });
}

AppDelegate::~AppDelegate() {
    if (windowObserver_ != 0) {
        NSWindow::removeObserver(windowObserver_);
    }
    UtilityWindowController::setFrontDocumentUndoManagerProvider(nullptr);
}

void AppDelegate::registerStoryboards() {
    registerUtilityPanelStoryboards();
    DrawWithMouseWindowController::registerStoryboard();
    WelcomeWindowController::registerStoryboard();
    PreferencesWindowController::registerStoryboard();
}

std::filesystem::path AppDelegate::standardDiagnosticsProgram() {
    return std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()) /
           "Velmora Helpers" / "Velmora Diagnostics";
}

std::shared_ptr<NSMenu> AppDelegate::makeMainMenu() {
    auto menu = NSApplication::makeStandardMainMenu("Velmora");
    const auto application = menu->items().front()->submenu();
    application->insertItem(NSMenuItem::separatorItem(), 0);
    application->insertItem(std::make_shared<NSMenuItem>("Preferences…", "showPreferences:",
                                                         QKeySequence(QStringLiteral("Ctrl+,"))),
                            0);
    auto view = std::make_shared<NSMenu>("View");
    // Ctrl++ needs Shift on most layouts: the key itself answers too.
    view->addItem("Zoom In", "zoomIn:", "Ctrl++")
        ->qAction()
        ->setShortcuts(
            {QKeySequence(QStringLiteral("Ctrl++")), QKeySequence(QStringLiteral("Ctrl+="))});
    view->addItem("Zoom Out", "zoomOut:", "Ctrl+-");
    view->addItem("Zoom to Fit", "resetCanvasTransformAndFit:", "Ctrl+0");
    view->addItem("Actual Size", "resetCanvasTransform:", "Ctrl+1");
    view->addItem(NSMenuItem::separatorItem());
    view->addItem("Rotate Left", "rotateCounterClockwise:", "Ctrl+[");
    view->addItem("Rotate Right", "rotateClockwise:", "Ctrl+]");
    // View and Tool before the standard Window menu, Help after it.
    const auto window = std::ranges::find_if(
        menu->items(), [](const auto& item) { return item->title() == "Window"; });
    const std::size_t beforeWindow = std::size_t(window - menu->items().begin());
    auto viewItem = std::make_shared<NSMenuItem>("View");
    viewItem->setSubmenu(view);
    menu->insertItem(viewItem, beforeWindow);
    auto tools = std::make_shared<NSMenu>("Tool");
    for (const auto& [title, identifier] :
         {std::pair{"Brush", "brushTool"}, std::pair{"Eraser", "eraserTool"},
          std::pair{"Move", "moveTool"}}) {
        tools->addItem(title, "selectTool:")->setIdentifier(identifier);
    }
    auto toolItem = std::make_shared<NSMenuItem>("Tool");
    toolItem->setSubmenu(tools);
    menu->insertItem(toolItem, beforeWindow + 1);
    auto help = std::make_shared<NSMenu>("Help");
    help->addItem("Report Bug…", "reportBug:");
    help->addItem(NSMenuItem::separatorItem());
    help->addItem("Insert Debug Log Marker", "insertDebugLogMarker:");
    help->addItem("Crash on Purpose", "crash:");
    menu->addItem("Help", {})->setSubmenu(help);
    return menu;
}

void AppDelegate::applicationWillFinishLaunching(NSApplication&) {
    // What a killed program left of its undo history.
    SnapshotStore::removeStaleFiles();
    if (const auto folder = CrashReporter::standardFolder()) {
        CrashReporter::setUserConfirmationHandler(makeCrashConfirmationHandler());
        CrashReporter::start(*folder);
    }
    showUtilityPanels();
    openFilesToOpen();
    if (windowObserver_ == 0) {
        windowObserver_ = NSWindow::addObserver([this](NSWindow& window, std::string_view name) {
            if (name == NSWindow::willCloseNotification) {
                windowWillClose(window);
            }
        });
    }
}

void AppDelegate::windowWillClose(NSWindow& window) {
    if (NSApplication::shared().isTerminating()) {
        return;
    }
    if (welcomeWindowController_ && welcomeWindowController_->isWindowLoaded() &&
        welcomeWindowController_->window().get() == &window) {
        // Without a document the welcome window is all there is to work with.
        if (DocumentController::shared().documents().empty()) {
            DispatchQueue::main().async([weak = weakAs<AppDelegate>()] {
                if (const auto self = weak.lock()) {
                    self->terminateApplication();
                }
            });
        }
        return;
    }
    const auto controller = window.windowController();
    if (!controller || !controller->documentResponder()) {
        return;
    }
    // Once the window has left the screen, and after whatever replaces it.
    DispatchQueue::main().async([weak = weakAs<AppDelegate>()] {
        if (const auto self = weak.lock()) {
            self->reopenUnlessADocumentWindowIsShown();
        }
    });
}

void AppDelegate::reopenUnlessADocumentWindowIsShown() {
    auto& application = NSApplication::shared();
    const bool welcomeShown = welcomeWindowController_ &&
                              welcomeWindowController_->isWindowLoaded() &&
                              welcomeWindowController_->window()->isVisible();
    const auto windows = NSWindow::orderedWindows();
    const bool documentWindowShown = std::ranges::any_of(windows, [](const auto& window) {
        const auto controller = window->windowController();
        return controller && controller->documentResponder();
    });
    if (application.isTerminating() || welcomeShown || documentWindowShown) {
        return;
    }
    application.reopen(false);
}

void AppDelegate::applicationOpenURLs(NSApplication&, const std::vector<URL>& urls) {
    filesToOpen_.insert(filesToOpen_.end(), urls.begin(), urls.end());
    openFilesToOpen();
}

bool AppDelegate::applicationShouldOpenUntitledFile(NSApplication&) {
    if (welcomeWindowController_) {
        welcomeWindowController_->showWindow();
    }
    return false;
}

void AppDelegate::showPreferences() {
    if (!preferencesWindowController_) {
        preferencesWindowController_ = NSStoryboard::instantiateController<NSWindowController>(
            PreferencesWindowController::storyboard, PreferencesWindowController::identifier);
    }
    preferencesWindowController_->showWindow();
}

void AppDelegate::showUtilityPanels() {
    for (const auto& controller : utilityPanelControllers_) {
        controller->showWindow();
    }
}

bool AppDelegate::validateMenuItem(const NSMenuItem& item) {
    if (item.action() == "reportBug:") {
        std::error_code error;
        return std::filesystem::is_regular_file(diagnosticsProgram, error);
    }
    return NSApplicationDelegate::validateMenuItem(item);
}

void AppDelegate::reportBug() {
    std::string error;
    if (!NSWorkspace::shared().launchApplication(URL::fileURL(diagnosticsProgram, false), {},
                                                 &error)) {
        userActionsLogs().error("Failed launching diagnostic app: %{public}s", error);
    }
}

void AppDelegate::openFilesToOpen() {
    for (const auto& url : std::exchange(filesToOpen_, {})) {
        DocumentController::shared().openDocument(
            url, true, [](const std::shared_ptr<NSDocument>&, bool, std::exception_ptr error) {
                if (error) {
                    showOpenError(error);
                }
            });
    }
}

} // namespace velmora
