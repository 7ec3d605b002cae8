#pragma once

namespace velmora {

// Registers the builders of the "Document" storyboard: "Document Window
// Controller", a document window whose content is the tab view of the canvas.
void registerDocumentStoryboard();

} // namespace velmora
