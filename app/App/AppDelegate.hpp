#pragma once

#include "desktop/NSApplicationDelegate.hpp"
#include "foundation/URL.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace velmora {

class DocumentController;
class NSMenu;
class NSWindow;
class NSWindowController;
class PointingDeviceManager;

// Builds the process-wide objects in a fixed order, starts crash reporting,
// shows the utility panels and, instead of an untitled document, the welcome
// window; answers the application-wide commands "showPreferences:",
// "reportBug:", "crash:" and "insertDebugLogMarker:".
class AppDelegate : public NSApplicationDelegate {
public:
    // Controllers built at start-up: (storyboard, identifier).
    struct StoryboardKey {
        const char* storyboard;
        const char* identifier;
    };
    static constexpr StoryboardKey welcomeKey{"Main", "Welcome"};
    static constexpr StoryboardKey panelKeys[] = {{"Tools Presets", "PresetsPanel"},
                                                  {"Tool Settings", "ToolSettings"},
                                                  {"Tools", "Tools"},
                                                  {"Layers", "Layers"}};

    // The builders of the controllers above; before the delegate is made.
    static void registerStoryboards();

    // Files given on the command line: opened at launch in place of the
    // welcome window.
    explicit AppDelegate(std::vector<URL> filesToOpen = {});
    ~AppDelegate() override;

    // The helper that "Report Bug" starts: "Velmora Helpers/Velmora Diagnostics"
    // beside the program, unless set (tests).
    static std::filesystem::path standardDiagnosticsProgram();
    std::filesystem::path diagnosticsProgram;
    // How the program quits when its last window goes: "terminate:", unless
    // replaced (tests, whose process must go on).
    std::function<void()> terminateApplication;

    // File, Edit and the application's menu, with the delegate's commands.
    static std::shared_ptr<NSMenu> makeMainMenu();

    // Shows the panels and opens the files given; from now on the program
    // never runs without a window: closing the last document window shows the
    // welcome window, and closing the welcome window with no document open quits.
    void applicationWillFinishLaunching(NSApplication& application) override;
    bool applicationShouldOpenUntitledFile(NSApplication& application) override;
    void applicationOpenURLs(NSApplication& application, const std::vector<URL>& urls) override;
    bool validateMenuItem(const NSMenuItem& item) override;

    void showUtilityPanels();
    // "Preferences…": the preferences window, made on first use and kept.
    void showPreferences();
    const std::shared_ptr<NSWindowController>& preferencesWindowController() const {
        return preferencesWindowController_;
    }
    void reportBug();

    const std::vector<std::shared_ptr<NSWindowController>>& utilityPanelControllers() const {
        return utilityPanelControllers_;
    }
    const std::shared_ptr<NSWindowController>& welcomeWindowController() const {
        return welcomeWindowController_;
    }

private:
    void openFilesToOpen();
    void windowWillClose(NSWindow& window);
    void reopenUnlessADocumentWindowIsShown();

    std::shared_ptr<DocumentController> customDocumentController_;
    std::vector<std::shared_ptr<NSWindowController>> utilityPanelControllers_;
    std::shared_ptr<NSWindowController> welcomeWindowController_;
    std::shared_ptr<NSWindowController> preferencesWindowController_;
    std::shared_ptr<PointingDeviceManager> stylusManager_;
    std::vector<URL> filesToOpen_;
    std::uint64_t windowObserver_ = 0;
};

} // namespace velmora
