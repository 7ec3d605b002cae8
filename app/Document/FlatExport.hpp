#pragma once

#include "Document/DocumentFileType.hpp"
#include "graphics/ImageCodecs.hpp"

#include <cstdint>
#include <vector>

namespace velmora {

// The flattened canvas written as a flat image, with the working colour
// space's profile embedded.
namespace FlatExport {

// TIFF: LZW at 0.99; JPEG: full quality; PNG: the profile only. Any other
// type is refused (DocumentError unsupportedFormat); `data` passes on the
// encoder's ImageCodecError.
ImageEncodingProperties properties(DocumentFileType type);
NSBitmapImageFileType bitmapFileType(DocumentFileType type);
std::vector<std::uint8_t> data(const NSBitmapImageRep& bitmap, DocumentFileType type);

} // namespace FlatExport

} // namespace velmora
