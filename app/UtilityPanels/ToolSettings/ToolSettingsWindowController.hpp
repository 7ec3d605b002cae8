#pragma once

#include "Rendering/DrawingSettingsDelegate.hpp"
#include "UtilityPanels/UtilityWindowController.hpp"

namespace velmora {

// The Tool Settings panel's window, titled after the current tool.
class ToolSettingsWindowController : public UtilityWindowController,
                                     public DrawingSettingsDelegate {
public:
    using UtilityWindowController::UtilityWindowController;

    // The tool's name followed by " Tool Settings".
    static std::string titleForTool(DrawingTool tool);

    void windowDidLoad() override;

    void drawingSettingsWillChangeActiveBrush(DrawingSettings&, const Brush&) override {}
    void drawingSettingsDidChangeActiveBrush(DrawingSettings&, const Brush&) override {}
    void drawingSettingsDidUpdateActiveTool(DrawingSettings& settings, DrawingTool tool) override;
};

} // namespace velmora
