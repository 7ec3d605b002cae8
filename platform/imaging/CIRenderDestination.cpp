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

imaging::MutablePixelStorage CIRenderDestination::storage() const {
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
