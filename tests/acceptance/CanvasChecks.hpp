#pragma once

#include "acceptance/Driver.hpp"

#include <memory>

namespace velmora {
class Document;
} // namespace velmora

namespace velmora::acceptance {

// An opened painting, once its window is shown: fitted to the window's real
// size, a layer ready to draw in, and the keys back with the canvas after a
// menu closed with Escape or a lone Alt. Leaves the view fitted.
void openedCanvasChecks(Driver& d, const std::shared_ptr<Document>& document);

} // namespace velmora::acceptance
