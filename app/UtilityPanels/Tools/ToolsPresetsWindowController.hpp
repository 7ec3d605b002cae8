#pragma once

#include "UtilityPanels/UtilityWindowController.hpp"

namespace velmora {

// The Brush Presets panel's window.
class ToolsPresetsWindowController : public UtilityWindowController {
public:
    using UtilityWindowController::UtilityWindowController;
};

} // namespace velmora
