#include "Document/ImageImport.hpp"

#include "Canvas/CanvasSize.hpp"
#include "graphics/ImageCodecs.hpp"

namespace velmora::ImageImport {

namespace {

DocumentError unreadableError(DocumentError::Kind kind) {
    return kind == DocumentError::Kind::unsupportedDroppedFormat
               ? DocumentError::unsupportedDroppedFormat()
               : DocumentError::unsupportedFormat();
}

void checkFormat(const ImageInfo& info) {
    if (info.colorSpaceModel != NSColorSpaceModel::rgb || info.bitsPerSample != 8) {
        throw DocumentError::unsupportedPixelFormat(info.formatText());
    }
}

void checkSize(const MTLSize& size) {
    if (!isAcceptableCanvasSize(size)) {
        throw DocumentError::unsupportedImageSize(size);
    }
}

} // namespace

NSBitmapImageRepRef bitmap(std::span<const std::uint8_t> data, CheckOrder order,
                           DocumentError::Kind unreadable) {
    ImageInfo info;
    try {
        info = ImageCodecs::readInfo(data);
    } catch (const ImageCodecError&) {
        throw unreadableError(unreadable);
    }
    const MTLSize size{info.pixelsWide, info.pixelsHigh, 1};
    if (order == CheckOrder::formatFirst) {
        checkFormat(info);
        checkSize(size);
    } else {
        checkSize(size);
        checkFormat(info);
    }
    NSBitmapImageRepRef bitmap;
    try {
        bitmap = ImageCodecs::decode(data);
    } catch (const ImageCodecError&) {
        throw unreadableError(unreadable);
    }
    // A header that promised another size than the pixels have is damaged.
    if (!bitmap || bitmap->pixelSize() != size) {
        throw unreadableError(unreadable);
    }
    return bitmap;
}

} // namespace velmora::ImageImport
