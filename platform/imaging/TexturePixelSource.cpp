#include "imaging/TexturePixelSource.hpp"

#include "foundation/FatalError.hpp"

namespace velmora::imaging {

std::optional<StorageFormat> storageFormat(MTLPixelFormat format) {
    switch (format) {
    case MTLPixelFormat::rgba8Unorm:
        return StorageFormat::rgba8;
    case MTLPixelFormat::bgra8Unorm:
        return StorageFormat::bgra8;
    case MTLPixelFormat::rgba16Float:
        return StorageFormat::rgba16Float;
    case MTLPixelFormat::rgba32Float:
        return StorageFormat::rgba32Float;
    default:
        return std::nullopt;
    }
}

TexturePixelSource::TexturePixelSource(std::shared_ptr<MTLTexture> texture, StorageFormat format)
    : texture_(std::move(texture)), format_(format), width_(texture_->width()),
      height_(texture_->height()) {}

PixelStorage TexturePixelSource::storage() const {
    const MTLTextureContents c = texture_->contentsForReading();
    precondition(c.width == width_ && c.height == height_ &&
                     c.bytesPerRow >= c.width * int64_t(bytesPerPixel(format_)),
                 "Texture contents do not match the texture");
    return {reinterpret_cast<const std::byte*>(c.data),
            size_t(c.bytesPerRow),
            c.width,
            c.height,
            format_,
            false};
}

std::optional<PixelRect> TexturePixelSource::nonZeroBounds() const {
    const auto bounds = texture_->nonZeroBounds();
    if (!bounds) {
        return std::nullopt;
    }
    return PixelRect{bounds->origin.x, bounds->origin.y, bounds->size.width, bounds->size.height};
}

MutablePixelStorage textureStorage(MTLTexture& texture, StorageFormat format, StoredAlpha alpha,
                                   const std::optional<MTLRegion>& written) {
    const MTLTextureContents c = written ? texture.contents(*written) : texture.contents();
    precondition(c.data != nullptr && c.bytesPerRow >= c.width * int64_t(bytesPerPixel(format)),
                 "Texture contents do not match the texture");
    return {reinterpret_cast<std::byte*>(c.data),
            size_t(c.bytesPerRow),
            c.width,
            c.height,
            format,
            false,
            alpha};
}

} // namespace velmora::imaging
