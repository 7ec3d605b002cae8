#pragma once

#include "gpu/MTLPixelFormat.hpp"
#include "gpu/MTLTexture.hpp"
#include "imaging/ImageNode.hpp"

#include <memory>
#include <optional>

namespace velmora::imaging {

// The layouts the evaluator reads and writes; nothing for other formats.
std::optional<StorageFormat> storageFormat(MTLPixelFormat format);

// A texture's level 0 as stored, read when the render runs on the timeline.
class TexturePixelSource final : public PixelSource {
public:
    TexturePixelSource(std::shared_ptr<MTLTexture> texture, StorageFormat format);

    int64_t width() const override { return width_; }
    int64_t height() const override { return height_; }
    PixelStorage storage() const override;
    std::shared_ptr<MTLResource> resource() const override { return texture_; }
    std::optional<PixelRect> nonZeroBounds() const override;

private:
    std::shared_ptr<MTLTexture> texture_;
    StorageFormat format_;
    int64_t width_, height_;
};

// Where a render into a texture writes, taken when the render runs.
// `written`, when given, is the only region the caller changes.
MutablePixelStorage textureStorage(MTLTexture& texture, StorageFormat format, StoredAlpha alpha,
                                   const std::optional<MTLRegion>& written = std::nullopt);

} // namespace velmora::imaging
