#include "UtilityPanels/ToolSettings/ToolSettingsWindowController.hpp"

#include "Rendering/DrawingSettings.hpp"
#include "desktop/NSWindow.hpp"

namespace velmora {

std::string ToolSettingsWindowController::titleForTool(DrawingTool tool) {
    return std::string(name(tool)) + " Tool Settings";
}

void ToolSettingsWindowController::windowDidLoad() {
    UtilityWindowController::windowDidLoad();
    DrawingSettings::shared().delegates += sharedAs<ToolSettingsWindowController>();
}

void ToolSettingsWindowController::drawingSettingsDidUpdateActiveTool(DrawingSettings&,
                                                                      DrawingTool tool) {
    if (std::shared_ptr<NSWindow> shown = window()) {
        shown->setTitle(titleForTool(tool));
    }
}

} // namespace velmora
