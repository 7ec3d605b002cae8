#include "Document/DocumentConversionDecision.hpp"

namespace velmora {

bool shouldConvertOpenedDocument(DocumentFileType type, Preferences& preferences,
                                 const std::function<ConversionControllerResponse()>& ask) {
    using Policy = Preferences::DocumentFormatConversion;
    switch (type) {
    case DocumentFileType::velmora:
        return false;
    case DocumentFileType::gif:
    case DocumentFileType::bmp:
        return true;
    case DocumentFileType::tiff:
    case DocumentFileType::jpeg:
    case DocumentFileType::png:
        break;
    }
    switch (preferences.documentFormatConversion()) {
    case Policy::convertAlways:
        return true;
    case Policy::keepAlways:
        return false;
    case Policy::ask:
        break;
    }
    switch (ask()) {
    case ConversionControllerResponse::convert:
        return true;
    case ConversionControllerResponse::convertAlways:
        preferences.setDocumentFormatConversion(Policy::convertAlways);
        return true;
    case ConversionControllerResponse::keep:
        return false;
    case ConversionControllerResponse::keepAlways:
        preferences.setDocumentFormatConversion(Policy::keepAlways);
        return false;
    }
    return false;
}

} // namespace velmora
