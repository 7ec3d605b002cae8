#pragma once

namespace velmora {

// Registers the builders of the panels' window controllers with the
// storyboards: "Tools Presets"/"PresetsPanel", "Tool Settings"/"ToolSettings"
// and "Tools"/"Tools". Each builds its window when first shown.
void registerUtilityPanelStoryboards();

} // namespace velmora
