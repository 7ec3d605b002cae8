#pragma once

namespace velmora {

// Registers the builders of the panels' window controllers with the
// storyboards: "Tools Presets"/"PresetsPanel", "Tool Settings"/"ToolSettings"
// "Tools"/"Tools" and "Layers"/"Layers". Each builds its window when first shown.
void registerUtilityPanelStoryboards();

} // namespace velmora
