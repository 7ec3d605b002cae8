#include "Document/DocumentError.hpp"

#include "Canvas/CanvasSize.hpp"

namespace velmora {

DocumentError::DocumentError(Kind kind) : kind_(kind) {
    message_ = errorDescription().messageText;
}

DocumentError DocumentError::unsupportedPixelFormat(std::string currentFormat) {
    DocumentError error(Kind::unsupportedPixelFormat);
    error.currentFormat_ = std::move(currentFormat);
    return error;
}

DocumentError DocumentError::unsupportedImageSize(MTLSize currentSize) {
    DocumentError error(Kind::unsupportedImageSize);
    error.currentSize_ = currentSize;
    return error;
}

ErrorDescription DocumentError::errorDescription() const {
    switch (kind_) {
    case Kind::unsupportedPixelFormat:
        return {"Unsupported pixel format.",
                "Only RGB 8 bits images are supported but the given image is " + currentFormat_ +
                    "."};
    case Kind::unsupportedImageSize:
        return {"Unsupported image size.", "Maximum image size on both dimensions is " +
                                               std::to_string(CanvasMaximumSize.width) +
                                               " pixels but your image is " +
                                               description(currentSize_) + " pixels."};
    case Kind::missingCanvas:
        return {"Cannot complete operation because there is no canvas.", ""};
    case Kind::unsupportedFormat:
        return {"This document format is not supported.",
                "Supported formats are TIFF, JPEG, PNG, GIF, BMP and Velmora document."};
    case Kind::unsupportedDroppedFormat:
        return {"This document format is not supported.",
                "Supported formats are TIFF, JPEG, PNG, GIF and BMP."};
    }
    return {"", ""};
}

} // namespace velmora
