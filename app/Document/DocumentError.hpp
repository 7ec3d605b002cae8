#pragma once

#include "foundation/ErrorDescription.hpp"
#include "gpu/MTLGeometry.hpp"

#include <exception>
#include <string>

namespace velmora {

// A failure of the document layer, shown to the user as its description.
class DocumentError : public std::exception, public DescribedError {
public:
    enum class Kind {
        unsupportedPixelFormat,
        unsupportedImageSize,
        missingCanvas,
        unsupportedFormat,
        unsupportedDroppedFormat,
    };

    // `currentFormat` as ImageInfo::formatText() gives it, e.g. "RGB 16 bits".
    static DocumentError unsupportedPixelFormat(std::string currentFormat);
    static DocumentError unsupportedImageSize(MTLSize currentSize);
    static DocumentError missingCanvas() { return DocumentError(Kind::missingCanvas); }
    static DocumentError unsupportedFormat() { return DocumentError(Kind::unsupportedFormat); }
    static DocumentError unsupportedDroppedFormat() {
        return DocumentError(Kind::unsupportedDroppedFormat);
    }

    Kind kind() const { return kind_; }
    const std::string& currentFormat() const { return currentFormat_; }
    const MTLSize& currentSize() const { return currentSize_; }

    ErrorDescription errorDescription() const override;
    const char* what() const noexcept override { return message_.c_str(); }

private:
    explicit DocumentError(Kind kind);

    Kind kind_;
    std::string currentFormat_;
    MTLSize currentSize_{};
    std::string message_;
};

} // namespace velmora
