#include "UtilityPanels/UtilityWindowController.hpp"

#include "desktop/NSPanel.hpp"
#include "desktop/NSWindow.hpp"
#include "foundation/FatalError.hpp"
#include "foundation/UserDefaults.hpp"

#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>

namespace velmora {

namespace {

UtilityWindowController::UndoManagerProvider& frontDocumentUndoManager() {
    static UtilityWindowController::UndoManagerProvider provider;
    return provider;
}

} // namespace

void UtilityWindowController::setFrontDocumentUndoManagerProvider(UndoManagerProvider provider) {
    frontDocumentUndoManager() = std::move(provider);
}

UtilityWindowController::UtilityWindowController(std::shared_ptr<NSWindow> window)
    : NSWindowController(std::move(window)) {}

std::string UtilityWindowController::className() const {
    const char* mangled = typeid(*this).name();
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : mangled;
    std::free(demangled);
    if (const auto colons = name.rfind("::"); colons != std::string::npos) {
        name.erase(0, colons + 2);
    }
    return name;
}

void UtilityWindowController::windowDidLoad() {
    std::shared_ptr<NSPanel> panel = std::dynamic_pointer_cast<NSPanel>(window());
    if (!panel) {
        fatalError("A utility panel's window must be an NSPanel");
    }
    panel->setFloatingPanel(true);
    panel->setBecomesKeyOnlyIfNeeded(true);
    panel->setDelegate(sharedAs<UtilityWindowController>());

    setShouldCascadeWindows(false);
    const std::string name = className();
    setWindowFrameAutosaveName(name);
    if (!UserDefaults::standard().stringForKey(NSWindow::frameDefaultsKey(name))) {
        std::shared_ptr<NSScreen> screen = panel->screen();
        if (!screen) {
            fatalError("A utility panel must be on a screen");
        }
        const CGRect area = screen->visibleFrame();
        panel->setFrameOrigin(
            {area.origin.x + defaultFrameOrigin.x, area.origin.y + defaultFrameOrigin.y});
    }
    NSWindowController::windowDidLoad();
}

std::optional<std::shared_ptr<UndoManager>>
UtilityWindowController::windowWillReturnUndoManager(NSWindow&) {
    if (const UndoManagerProvider& provider = frontDocumentUndoManager()) {
        if (std::shared_ptr<UndoManager> documentUndoManager = provider()) {
            return documentUndoManager;
        }
    }
    return undoManager();
}

} // namespace velmora
