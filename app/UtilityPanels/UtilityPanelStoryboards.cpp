#include "UtilityPanels/UtilityPanelStoryboards.hpp"

#include "Rendering/DrawingSettings.hpp"
#include "UtilityPanels/Layers/LayersViewController.hpp"
#include "UtilityPanels/Layers/LayersWindowController.hpp"
#include "UtilityPanels/ToolSettings/NotApplicableTabViewController.hpp"
#include "UtilityPanels/ToolSettings/ToolSettingsViewController.hpp"
#include "UtilityPanels/ToolSettings/ToolSettingsWindowController.hpp"
#include "UtilityPanels/Tools/ToolsPresetsViewController.hpp"
#include "UtilityPanels/Tools/ToolsPresetsWindowController.hpp"
#include "UtilityPanels/Tools/ToolsViewController.hpp"
#include "UtilityPanels/Tools/ToolsWindowController.hpp"
#include "UtilityPanels/UtilityPanelPlace.hpp"
#include "desktop/NSPanel.hpp"
#include "desktop/NSScreen.hpp"
#include "desktop/NSStoryboard.hpp"

#include <QMenuBar>

namespace velmora {

namespace {

// First-run places: the tools above the brush presets at the left edge, the
// tool settings beside them, the layers at the right edge, all along the top,
// clear of a maximised document window's menus and of its sheet, which hangs
// from the middle of its top.
constexpr UtilityPanelPlace toolsPlace{0, 0, false};
constexpr UtilityPanelPlace presetsPlace{0, 160 + UtilityPanelPlace::titleBarAllowance, false};
constexpr UtilityPanelPlace toolSettingsPlace{228, 0, false};
constexpr UtilityPanelPlace layersPlace{0, 0, true};

// The band a maximised document window's title bar and menu bar take.
double documentWindowTop() {
    QMenuBar bar;
    bar.addMenu(QStringLiteral("Velmora"));
    return UtilityPanelPlace::titleBarAllowance + bar.sizeHint().height();
}

template <class Controller>
std::shared_ptr<Controller>
makeController(UtilityPanelPlace place, std::string title, CGSize size,
               std::function<std::shared_ptr<NSViewController>()> content) {
    auto controller = std::make_shared<Controller>();
    controller->setWindowLoader(
        [weak = std::weak_ptr<Controller>(controller), place, title, size, content] {
            auto panel = std::make_shared<NSPanel>(CGRect{{0, 0}, size});
            panel->setTitle(title);
            panel->setContentViewController(content());
            // The place depends on the screen the panel opens on.
            const auto controller = weak.lock();
            if (const auto screen = panel->screen(); controller && screen) {
                controller->defaultFrameOrigin = place.defaultFrameOrigin(
                    panel->frame().size, screen->visibleFrame(), documentWindowTop());
            }
            return panel;
        });
    return controller;
}

} // namespace

void registerUtilityPanelStoryboards() {
    NSStoryboard::registerController("Tools Presets", "PresetsPanel", [] {
        return makeController<ToolsPresetsWindowController>(
            presetsPlace, "Brush Presets", {220, 320},
            [] { return std::make_shared<ToolsPresetsViewController>(); });
    });
    NSStoryboard::registerController("Tools", "Tools", [] {
        return makeController<ToolsWindowController>(
            toolsPlace, "Tools", {68, 160}, [] { return std::make_shared<ToolsViewController>(); });
    });
    NSStoryboard::registerController("Layers", "Layers", [] {
        return makeController<LayersWindowController>(layersPlace, "Layers", {340, 420}, [] {
            return std::make_shared<LayersViewController>();
        });
    });
    NSStoryboard::registerController("Tool Settings", "ToolSettings", [] {
        return makeController<ToolSettingsWindowController>(
            toolSettingsPlace,
            ToolSettingsWindowController::titleForTool(DrawingSettings::shared().currentTool()),
            {290, 420}, [] {
                return std::make_shared<NotApplicableTabViewController>(
                    std::make_shared<ToolSettingsViewController>());
            });
    });
}

} // namespace velmora
