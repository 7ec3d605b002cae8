#pragma once

#include "UtilityPanels/UtilityWindowController.hpp"

namespace velmora {

// The Tools panel's window.
class ToolsWindowController : public UtilityWindowController {
public:
    using UtilityWindowController::UtilityWindowController;
};

} // namespace velmora
