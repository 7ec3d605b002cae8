#pragma once

#include "App/Preferences.hpp"
#include "Document/ConversionControllerResponse.hpp"
#include "Document/DocumentFileType.hpp"

#include <functional>

namespace velmora {

// Whether a flat image just opened for editing becomes an unsaved native
// document: GIF and BMP always (they are not written), TIFF, JPEG and PNG as
// the stored policy says, asking the user through `ask` when it says so; an
// answer "always" becomes the policy.
bool shouldConvertOpenedDocument(DocumentFileType type, Preferences& preferences,
                                 const std::function<ConversionControllerResponse()>& ask);

} // namespace velmora
