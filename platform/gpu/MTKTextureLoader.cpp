#include "gpu/MTKTextureLoader.hpp"

#include "foundation/FatalError.hpp"
#include "graphics/PixelConversion.hpp"

#include <vector>

namespace velmora {

MTKTextureLoader::MTKTextureLoader(std::shared_ptr<MTLDevice> device) : device_(std::move(device)) {
    precondition(device_ != nullptr, "Texture loader without a device");
}

std::shared_ptr<MTLTexture>
MTKTextureLoader::newTexture(const NSBitmapImageRep& bitmap,
                             const MTKTextureLoaderOptions& options) const {
    const auto layout = bitmap.pixelLayout();
    if (!layout) {
        throw MTKTextureLoaderError("Unsupported bitmap layout: " + bitmap.description());
    }
    if (colorModel(*layout) == CGColorSpaceModel::cmyk) {
        throw MTKTextureLoaderError("CMYK bitmaps cannot be loaded");
    }
    const int64_t width = bitmap.pixelsWide(), height = bitmap.pixelsHigh();
    auto descriptor = MTLTextureDescriptor::texture2DDescriptor(
        options.srgb ? MTLPixelFormat::rgba8Unorm_srgb : MTLPixelFormat::rgba8Unorm, width, height);
    descriptor.usage = options.usage;
    descriptor.storageMode = options.storageMode;
    auto texture = device_->newTexture(descriptor);
    if (texture == nullptr) {
        throw MTKTextureLoaderError("The device cannot make a texture of " + std::to_string(width) +
                                    " x " + std::to_string(height));
    }
    const auto contents = texture->contents();
    const bool flip = options.origin != MTKTextureLoaderOrigin::topLeft;
    const bool premultiplied = bitmap.isAlphaPremultiplied();
    for (int64_t y = 0; y < height; ++y) {
        uint8_t* out = contents.row(flip ? height - 1 - y : y);
        // Layout only: the values are taken to be in the texture's space already.
        convertPixels(nullptr, *layout, bitmap.row(y), *CGColorSpace::sRGB(),
                      ::velmora::PixelLayout::rgba8, out, static_cast<size_t>(width));
        if (premultiplied) {
            for (int64_t x = 0; x < width; ++x) {
                uint8_t* p = out + 4 * x;
                const uint32_t a = p[3];
                for (int c = 0; c < 3 && a != 255; ++c) {
                    p[c] = a == 0 ? 0
                                  : static_cast<uint8_t>(
                                        std::min<uint32_t>(255, (p[c] * 255 + a / 2) / a));
                }
            }
        }
    }
    return texture;
}

} // namespace velmora
