#pragma once

#include "UtilityPanels/UtilityWindowController.hpp"

namespace velmora {

// The Layers panel's window.
class LayersWindowController : public UtilityWindowController {
public:
    using UtilityWindowController::UtilityWindowController;
};

} // namespace velmora
