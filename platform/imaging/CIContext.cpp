#include "imaging/CIContext.hpp"

#include "foundation/CheckedMath.hpp"
#include "foundation/FatalError.hpp"
#include "graphics/ColorManagement.hpp"
#include "graphics/ImageCodecs.hpp"
#include "imaging/TexturePixelSource.hpp"
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

bool sameSpace(const CGColorSpaceRef& a, const CGColorSpaceRef& b) {
    return a == b || (a && b && *a == *b);
}

} // namespace

void CIRenderTask::waitUntilCompleted() const {
    if (buffer_) {
        precondition(buffer_->status() >= MTLCommandBufferStatus::committed,
                     "Waiting on a render whose command buffer is not committed");
        buffer_->waitUntilCompleted();
    }
}

CIContext::CIContext(CIContextOptions options)
    : options_(std::move(options)),
      working_(options_.workingColorSpace ? options_.workingColorSpace
                                          : ColorManagement::workingColorSpace()),
      output_(options_.outputColorSpace ? options_.outputColorSpace : working_),
      pool_(std::make_shared<imaging::ScratchPool>()) {}

imaging::NodeRef CIContext::inSpace(const CIImage& image, const CGColorSpaceRef& space) const {
    const CGColorSpaceRef& target = space ? space : output_;
    if (image.isEmpty() || sameSpace(target, working_)) {
        return image.node();
    }
    return imaging::colorConvertNode(image.node(), working_, target);
}

void CIContext::render(const CIImage& image, void* bitmap, size_t rowBytes, const CGRect& bounds,
                       CIFormat format, const CGColorSpaceRef& colorSpace) const {
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
    imaging::renderToStorage(*inSpace(image, colorSpace), from, target, 0, 0, *pool_);
}

std::vector<uint8_t> CIContext::renderBitmap(const CIImage& image, const CGRect& bounds,
                                             CIFormat format,
                                             const CGColorSpaceRef& colorSpace) const {
    const imaging::PixelRect from = wholePixels(bounds);
    if (from.isEmpty()) {
        return {};
    }
    const size_t rowBytes = checked::mul(size_t(from.width), bytesPerPixel(format));
    std::vector<uint8_t> data(checked::mul(rowBytes, size_t(from.height)));
    render(image, data.data(), rowBytes, bounds, format, colorSpace);
    return data;
}

NSBitmapImageRepRef CIContext::straightBitmap(const CIImage& image, const CGRect& fromRect,
                                              const CGColorSpaceRef& space) const {
    const imaging::PixelRect from = wholePixels(fromRect);
    if (from.isEmpty()) {
        return nullptr;
    }
    const CGColorSpaceRef& target = space ? space : output_;
    NSBitmapImageRepRef bitmap = NSBitmapImageRep::makeRGBA8(
        from.width, from.height, NSColorSpace::withCGColorSpace(target));
    if (!bitmap) {
        return nullptr;
    }
    const imaging::MutablePixelStorage storage{reinterpret_cast<std::byte*>(bitmap->bitmapData()),
                                               size_t(bitmap->bytesPerRow()),
                                               from.width,
                                               from.height,
                                               imaging::StorageFormat::rgba8,
                                               true,
                                               imaging::StoredAlpha::unpremultiplied};
    imaging::renderToStorage(*inSpace(image, target), from, storage, 0, 0, *pool_);
    return bitmap;
}

NSBitmapImageRepRef CIContext::createBitmap(const CIImage& image, const CGRect& fromRect) const {
    return straightBitmap(image, fromRect, output_);
}

std::optional<std::vector<uint8_t>>
CIContext::tiffRepresentation(const CIImage& image, CIFormat format,
                              const CGColorSpaceRef& colorSpace,
                              const CIImageRepresentationOptions&) const {
    if (format != CIFormat::RGBA8) {
        return std::nullopt;
    }
    const NSBitmapImageRepRef bitmap = straightBitmap(image, image.extent(), colorSpace);
    if (!bitmap) {
        return std::nullopt;
    }
    ImageEncodingProperties properties;
    properties.compressionMethod = 5; // LZW
    try {
        return ImageCodecs::encode(*bitmap, NSBitmapImageFileType::tiff, properties);
    } catch (const ImageCodecError&) {
        return std::nullopt;
    }
}

std::optional<std::vector<uint8_t>>
CIContext::jpegRepresentation(const CIImage& image, const CGColorSpaceRef& colorSpace,
                              const CIImageRepresentationOptions& options) const {
    const NSBitmapImageRepRef bitmap = straightBitmap(image, image.extent(), colorSpace);
    if (!bitmap) {
        return std::nullopt;
    }
    ImageEncodingProperties properties;
    properties.compressionFactor = options.lossyCompressionQuality;
    try {
        return ImageCodecs::encode(*bitmap, NSBitmapImageFileType::jpeg, properties);
    } catch (const ImageCodecError&) {
        return std::nullopt;
    }
}

CIRenderTask CIContext::startTask(const CIImage& image, const CGRect& fromRect,
                                  const CIRenderDestination& destination, CGPoint atPoint) const {
    const imaging::PixelRect from = wholePixels(fromRect);
    if (!std::isfinite(atPoint.x) || !std::isfinite(atPoint.y)) {
        throw CIContextError("Render destination point is not finite");
    }
    const int64_t x = checked::toInteger<int64_t>(std::floor(atPoint.x));
    const int64_t y = checked::toInteger<int64_t>(std::floor(atPoint.y));
    const imaging::StoredAlpha alpha = storedAlpha(destination.alphaMode());
    const std::shared_ptr<MTLTexture>& texture = destination.texture();
    if (!texture) {
        if (!from.isEmpty()) {
            imaging::renderToStorage(*inSpace(image, destination.colorSpace()), from,
                                     destination.bitmapStorage(), x, y, *pool_);
        }
        return CIRenderTask();
    }
    const auto format = imaging::storageFormat(texture->pixelFormat());
    if (!format) {
        throw CIContextError("Unsupported destination pixel format " +
                             std::to_string(uint64_t(texture->pixelFormat())));
    }
    const std::shared_ptr<MTLCommandBuffer>& buffer = destination.commandBuffer();
    if (from.isEmpty()) {
        return CIRenderTask(buffer);
    }
    imaging::NodeRef node = inSpace(image, destination.colorSpace());
    std::vector<std::shared_ptr<MTLResource>> resources{texture};
    node->collectResources(resources);
    // The read of every source happens here, when the buffer runs on the timeline.
    buffer->encodeHostCommand(
        "Render image",
        [node, from, x, y, texture, format = *format, alpha, pool = pool_] {
            const imaging::PixelRect written = imaging::intersection(
                imaging::PixelRect{x, y, from.width, from.height},
                imaging::PixelRect{0, 0, texture->width(), texture->height()});
            const imaging::MutablePixelStorage target = imaging::textureStorage(
                *texture, format, alpha,
                MTLRegion{{written.x, written.y, 0}, {written.width, written.height, 1}});
            imaging::renderToStorage(*node, from, target, x, y, *pool);
        },
        std::move(resources));
    return CIRenderTask(buffer);
}

void CIContext::clearCaches() const {
    pool_->clear();
}

} // namespace velmora
