#pragma once

#include "gpu/MTLTexture.hpp"
#include "graphics/NSBitmapImageRep.hpp"

#include <memory>

namespace velmora {

// The picture of an rgba8Unorm texture whose every pixel is opaque, top row
// first, in the working space: its rows copied in the other order, which is
// what the image graph's premultiplied round trip gives for such pixels.
// None when a pixel is not opaque or the format is another; only then is the
// graph needed. Reads the texture's memory as it is now: the caller has
// waited for the work that writes it.
std::shared_ptr<NSBitmapImageRep> opaqueTextureBitmap(MTLTexture& texture);

} // namespace velmora
