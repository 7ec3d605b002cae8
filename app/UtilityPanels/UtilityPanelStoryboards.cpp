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
#include "desktop/NSPanel.hpp"
#include "desktop/NSStoryboard.hpp"

namespace velmora {

namespace {

// First-run places, from the visible area's bottom left: side by side.
constexpr CGPoint toolsOrigin{0, 0};
constexpr CGPoint toolSettingsOrigin{80, 0};
constexpr CGPoint presetsOrigin{380, 0};
constexpr CGPoint layersOrigin{620, 0};

template <class Controller>
std::shared_ptr<Controller>
makeController(CGPoint origin, std::string title, CGSize size,
               std::function<std::shared_ptr<NSViewController>()> content) {
    auto controller = std::make_shared<Controller>();
    controller->defaultFrameOrigin = origin;
    controller->setWindowLoader([title, size, content] {
        auto panel = std::make_shared<NSPanel>(CGRect{{0, 0}, size});
        panel->setTitle(title);
        panel->setContentViewController(content());
        return panel;
    });
    return controller;
}

} // namespace

void registerUtilityPanelStoryboards() {
    NSStoryboard::registerController("Tools Presets", "PresetsPanel", [] {
        return makeController<ToolsPresetsWindowController>(
            presetsOrigin, "Brush Presets", {220, 320},
            [] { return std::make_shared<ToolsPresetsViewController>(); });
    });
    NSStoryboard::registerController("Tools", "Tools", [] {
        return makeController<ToolsWindowController>(toolsOrigin, "Tools", {68, 160}, [] {
            return std::make_shared<ToolsViewController>();
        });
    });
    NSStoryboard::registerController("Layers", "Layers", [] {
        return makeController<LayersWindowController>(layersOrigin, "Layers", {340, 420}, [] {
            return std::make_shared<LayersViewController>();
        });
    });
    NSStoryboard::registerController("Tool Settings", "ToolSettings", [] {
        return makeController<ToolSettingsWindowController>(
            toolSettingsOrigin,
            ToolSettingsWindowController::titleForTool(DrawingSettings::shared().currentTool()),
            {290, 420}, [] {
                return std::make_shared<NotApplicableTabViewController>(
                    std::make_shared<ToolSettingsViewController>());
            });
    });
}

} // namespace velmora
