#pragma once

#include "gpu/MTLDevice.hpp"
#include "gpu/MTLTexture.hpp"
#include "graphics/NSBitmapImageRep.hpp"

#include <memory>
#include <stdexcept>

namespace velmora {

enum class MTKTextureLoaderOrigin { topLeft, bottomLeft, flippedVertically };

struct MTKTextureLoaderOptions {
    // rgba8Unorm_srgb instead of rgba8Unorm: shaders then read linear values.
    bool srgb = false;
    // topLeft keeps the bitmap's first row as row 0; bottomLeft (and
    // flippedVertically) make row 0 the bitmap's last row, the bottom of the picture.
    MTKTextureLoaderOrigin origin = MTKTextureLoaderOrigin::topLeft;
    MTLTextureUsage usage = MTLTextureUsage::shaderRead;
    MTLStorageMode storageMode = MTLStorageMode::private_;
};

class MTKTextureLoaderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Makes textures from bitmaps: 8-bit RGBA with straight alpha, the bitmap's values
// taken as they are (no colour matching).
class MTKTextureLoader {
public:
    explicit MTKTextureLoader(std::shared_ptr<MTLDevice> device);

    const std::shared_ptr<MTLDevice>& device() const { return device_; }

    // Throws MTKTextureLoaderError for a bitmap it cannot read (planar, an unusual
    // layout, too large for the device).
    std::shared_ptr<MTLTexture> newTexture(const NSBitmapImageRep& bitmap,
                                           const MTKTextureLoaderOptions& options) const;

private:
    std::shared_ptr<MTLDevice> device_;
};

} // namespace velmora
