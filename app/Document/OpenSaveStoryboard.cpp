#include "Document/OpenSaveStoryboard.hpp"

#include "Document/DocumentConversionController.hpp"
#include "Document/SaveAccessoryViewController.hpp"
#include "desktop/NSStoryboard.hpp"

namespace velmora {

void registerOpenSaveStoryboard() {
    NSStoryboard::registerController("OpenSave", "SaveAccessoryView",
                                     [] { return SaveAccessoryViewController::make(); });
    NSStoryboard::registerController("OpenSave", "DocumentFormatConversionPanel",
                                     [] { return DocumentConversionController::make(); });
}

} // namespace velmora
