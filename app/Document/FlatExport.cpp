#include "Document/FlatExport.hpp"

#include "Document/DocumentError.hpp"
#include "foundation/FatalError.hpp"
#include "graphics/ColorManagement.hpp"

namespace velmora::FlatExport {

namespace {

const std::vector<std::uint8_t>& workingProfile() {
    const auto& profile = ColorManagement::workingNSColorSpace()->iccProfileData();
    if (profile.empty()) {
        fatalError("The working colour space has no ICC profile");
    }
    return profile;
}

} // namespace

NSBitmapImageFileType bitmapFileType(DocumentFileType type) {
    switch (type) {
    case DocumentFileType::tiff:
        return NSBitmapImageFileType::tiff;
    case DocumentFileType::jpeg:
        return NSBitmapImageFileType::jpeg;
    case DocumentFileType::png:
        return NSBitmapImageFileType::png;
    case DocumentFileType::gif:
    case DocumentFileType::bmp:
    case DocumentFileType::velmora:
        break;
    }
    throw DocumentError::unsupportedFormat();
}

ImageEncodingProperties properties(DocumentFileType type) {
    ImageEncodingProperties properties;
    switch (bitmapFileType(type)) {
    case NSBitmapImageFileType::tiff:
        properties.compressionMethod = 5;
        properties.compressionFactor = 0.99;
        break;
    case NSBitmapImageFileType::jpeg:
        properties.compressionFactor = 1.0;
        break;
    default:
        break;
    }
    properties.colorSyncProfileData = workingProfile();
    return properties;
}

std::vector<std::uint8_t> data(const NSBitmapImageRep& bitmap, DocumentFileType type) {
    return ImageCodecs::encode(bitmap, bitmapFileType(type), properties(type));
}

} // namespace velmora::FlatExport
