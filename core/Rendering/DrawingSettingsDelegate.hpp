#pragma once

#include "Rendering/Brush.hpp"
#include "Rendering/DrawingTool.hpp"

namespace velmora {

class DrawingSettings;

// Told synchronously, on the main thread, of brush and tool changes.
class DrawingSettingsDelegate {
public:
    virtual ~DrawingSettingsDelegate() = default;

    // The live brush of the current tool, as it reads before the change.
    virtual void drawingSettingsWillChangeActiveBrush(DrawingSettings& settings,
                                                      const Brush& brush) = 0;
    // The live brush of the current tool, as it reads after the change.
    virtual void drawingSettingsDidChangeActiveBrush(DrawingSettings& settings,
                                                     const Brush& brush) = 0;
    // The effective tool changed; `tool` is the new one.
    virtual void drawingSettingsDidUpdateActiveTool(DrawingSettings& settings,
                                                    DrawingTool tool) = 0;
};

} // namespace velmora
