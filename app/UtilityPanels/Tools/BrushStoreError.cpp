#include "UtilityPanels/Tools/BrushStoreError.hpp"

namespace velmora {

BrushStoreError::BrushStoreError(std::string messageText, std::string informativeText)
    : std::runtime_error(messageText + " " + informativeText),
      description_(std::move(messageText), std::move(informativeText)) {}

} // namespace velmora
