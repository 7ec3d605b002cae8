#pragma once

#include "Document/DocumentError.hpp"
#include "graphics/NSBitmapImageRep.hpp"

#include <cstdint>
#include <span>

namespace velmora {

// Flat image files taken in as 8-bit RGB pictures no larger than a canvas, the
// header checked before any pixel is decoded.
namespace ImageImport {

enum class CheckOrder {
    formatFirst, // opening a document: pixel format, then size
    sizeFirst,   // dropping an image: size, then pixel format
};

// Throws DocumentError: `unreadable` (unsupportedFormat or
// unsupportedDroppedFormat) for data that is no image we read, also when only
// its header is readable; unsupportedPixelFormat for anything but 8-bit RGB;
// unsupportedImageSize outside 1 x 1 ... 8000 x 8000.
NSBitmapImageRepRef bitmap(std::span<const std::uint8_t> data, CheckOrder order,
                           DocumentError::Kind unreadable);

} // namespace ImageImport

} // namespace velmora
