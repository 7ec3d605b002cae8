#pragma once

#include "gpu/MTLCommandBuffer.hpp"
#include "gpu/MTLTexture.hpp"
#include "graphics/CGColorSpace.hpp"
#include "imaging/CIFormat.hpp"
#include "imaging/PixelStorage.hpp"

#include <cstdint>
#include <memory>

namespace velmora {

enum class CIRenderDestinationAlphaMode { none, premultiplied, unpremultiplied };

// Where a render task writes: bitmap memory (first row the top of the
// picture, owned by the caller and outliving the task), or a texture on a
// command buffer (row r is y = r), written when the buffer runs.
class CIRenderDestination {
public:
    CIRenderDestination(void* data, int64_t width, int64_t height, size_t bytesPerRow,
                        CIFormat format);
    CIRenderDestination(std::shared_ptr<MTLTexture> texture,
                        std::shared_ptr<MTLCommandBuffer> commandBuffer);

    int64_t width() const { return width_; }
    int64_t height() const { return height_; }

    CIRenderDestinationAlphaMode alphaMode() const { return alphaMode_; }
    void setAlphaMode(CIRenderDestinationAlphaMode mode) { alphaMode_ = mode; }
    // The space written; none means the context's output space.
    const CGColorSpaceRef& colorSpace() const { return colorSpace_; }
    void setColorSpace(CGColorSpaceRef space) { colorSpace_ = std::move(space); }

    const std::shared_ptr<MTLTexture>& texture() const { return texture_; }
    const std::shared_ptr<MTLCommandBuffer>& commandBuffer() const { return commandBuffer_; }

    // For bitmap destinations only.
    imaging::MutablePixelStorage bitmapStorage() const;

private:
    void* data_ = nullptr;
    int64_t width_ = 0;
    int64_t height_ = 0;
    size_t bytesPerRow_ = 0;
    CIFormat format_ = CIFormat::RGBA8;
    std::shared_ptr<MTLTexture> texture_;
    std::shared_ptr<MTLCommandBuffer> commandBuffer_;
    CIRenderDestinationAlphaMode alphaMode_ = CIRenderDestinationAlphaMode::premultiplied;
    CGColorSpaceRef colorSpace_;
};

imaging::StoredAlpha storedAlpha(CIRenderDestinationAlphaMode mode);

} // namespace velmora
