#pragma once

#include "gpu/MTLTexture.hpp"
#include "graphics/NSBitmapImageRep.hpp"

#include <memory>

namespace velmora {

// A flat, read-only canvas: one texture holding a picture in the working
// colour space, ready when made.
class PreviewCanvas {
public:
    explicit PreviewCanvas(const NSBitmapImageRep& bitmap);

    const std::shared_ptr<MTLTexture>& texture() const { return texture_; }
    MTLSize size() const;

private:
    std::shared_ptr<MTLTexture> texture_;
};

} // namespace velmora
