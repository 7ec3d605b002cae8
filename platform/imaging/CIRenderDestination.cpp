#include "imaging/CIRenderDestination.hpp"

#include "foundation/FatalError.hpp"

namespace velmora {

CIRenderDestination::CIRenderDestination(void* data, int64_t width, int64_t height,
                                         size_t bytesPerRow, CIFormat format)
    : data_(data), width_(width), height_(height), bytesPerRow_(bytesPerRow), format_(format) {
    precondition(data != nullptr && width > 0 && height > 0 &&
                     bytesPerRow >= size_t(width) * bytesPerPixel(format),
                 "Render destination does not fit its memory");
}

CIRenderDestination::CIRenderDestination(std::shared_ptr<MTLTexture> texture,
                                         std::shared_ptr<MTLCommandBuffer> commandBuffer)
    : texture_(std::move(texture)), commandBuffer_(std::move(commandBuffer)) {
    precondition(texture_ != nullptr && commandBuffer_ != nullptr,
                 "Render destination without texture or command buffer");
    width_ = texture_->width();
    height_ = texture_->height();
}

imaging::MutablePixelStorage CIRenderDestination::bitmapStorage() const {
    precondition(data_ != nullptr, "Not a bitmap destination");
    return {
        static_cast<std::byte*>(data_), bytesPerRow_, width_, height_, storageFormat(format_), true,
        storedAlpha(alphaMode_)};
}

imaging::StoredAlpha storedAlpha(CIRenderDestinationAlphaMode mode) {
    switch (mode) {
    case CIRenderDestinationAlphaMode::none:
        return imaging::StoredAlpha::none;
    case CIRenderDestinationAlphaMode::premultiplied:
        return imaging::StoredAlpha::premultiplied;
    case CIRenderDestinationAlphaMode::unpremultiplied:
        return imaging::StoredAlpha::unpremultiplied;
    }
    return imaging::StoredAlpha::premultiplied;
}

} // namespace velmora
