#include "imaging/CIContext.hpp"

#include "foundation/CheckedMath.hpp"
#include "foundation/FatalError.hpp"
#include "imaging/TileRenderer.hpp"

#include <cmath>

namespace velmora {

namespace {
imaging::PixelRect wholePixels(const CGRect& r) {
    if (imaging::isEmpty(r) || imaging::isInfinite(r)) {
        return {};
    }
    return imaging::pixelCover(r);
}
} // namespace

CIContext::CIContext(CIContextOptions options)
    : options_(options), pool_(std::make_shared<imaging::ScratchPool>()) {}

void CIContext::render(const CIImage& image, void* bitmap, size_t rowBytes, const CGRect& bounds,
                       CIFormat format) const {
    const imaging::PixelRect from = wholePixels(bounds);
    if (from.isEmpty()) {
        return;
    }
    precondition(bitmap != nullptr && rowBytes >= size_t(from.width) * bytesPerPixel(format),
                 "Bitmap too small for the rendered bounds");
    const imaging::MutablePixelStorage target{static_cast<std::byte*>(bitmap),
                                              rowBytes,
                                              from.width,
                                              from.height,
                                              storageFormat(format),
                                              true,
                                              options_.outputPremultiplied
                                                  ? imaging::StoredAlpha::premultiplied
                                                  : imaging::StoredAlpha::unpremultiplied};
    imaging::renderToStorage(*image.node(), from, target, 0, 0, *pool_);
}

std::vector<uint8_t> CIContext::renderBitmap(const CIImage& image, const CGRect& bounds,
                                             CIFormat format) const {
    const imaging::PixelRect from = wholePixels(bounds);
    if (from.isEmpty()) {
        return {};
    }
    const size_t rowBytes = checked::mul(size_t(from.width), bytesPerPixel(format));
    std::vector<uint8_t> data(checked::mul(rowBytes, size_t(from.height)));
    render(image, data.data(), rowBytes, bounds, format);
    return data;
}

CIRenderTask CIContext::startTask(const CIImage& image, const CGRect& fromRect,
                                  const CIRenderDestination& destination, CGPoint atPoint) const {
    const imaging::PixelRect from = wholePixels(fromRect);
    if (!from.isEmpty() && std::isfinite(atPoint.x) && std::isfinite(atPoint.y)) {
        const int64_t x = checked::toInteger<int64_t>(std::floor(atPoint.x));
        const int64_t y = checked::toInteger<int64_t>(std::floor(atPoint.y));
        imaging::renderToStorage(*image.node(), from, destination.storage(), x, y, *pool_);
    }
    return CIRenderTask();
}

void CIContext::clearCaches() const {
    pool_->clear();
}

} // namespace velmora
