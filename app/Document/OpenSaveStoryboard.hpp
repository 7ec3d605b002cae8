#pragma once

namespace velmora {

// Registers the builders of the "OpenSave" storyboard: "SaveAccessoryView"
// (the save panel's format chooser) and "DocumentFormatConversionPanel" (the
// conversion question's window controller).
void registerOpenSaveStoryboard();

} // namespace velmora
