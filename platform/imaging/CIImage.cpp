#include "imaging/CIImage.hpp"

#include "graphics/ColorManagement.hpp"
#include "imaging/CIBlendKernel.hpp"
#include "imaging/TexturePixelSource.hpp"

#include <cmath>

namespace velmora {

namespace {

class BitmapDataSource final : public imaging::PixelSource {
public:
    BitmapDataSource(std::shared_ptr<const void> owner, const void* bytes, size_t bytesPerRow,
                     int64_t width, int64_t height, imaging::StorageFormat format)
        : owner_(std::move(owner)), bytes_(static_cast<const std::byte*>(bytes)),
          bytesPerRow_(bytesPerRow), width_(width), height_(height), format_(format) {}

    int64_t width() const override { return width_; }
    int64_t height() const override { return height_; }
    imaging::PixelStorage storage() const override {
        return {bytes_, bytesPerRow_, width_, height_, format_, true};
    }

private:
    std::shared_ptr<const void> owner_;
    const std::byte* bytes_;
    size_t bytesPerRow_;
    int64_t width_, height_;
    imaging::StorageFormat format_;
};

bool isIntegerTranslation(const CGAffineTransform& t) {
    constexpr double limit = double(int64_t(1) << 40);
    return t.a == 1 && t.b == 0 && t.c == 0 && t.d == 1 && std::trunc(t.tx) == t.tx &&
           std::trunc(t.ty) == t.ty && std::fabs(t.tx) < limit && std::fabs(t.ty) < limit;
}

} // namespace

CIImage::CIImage() : node_(imaging::emptyNode()) {}

CIImage::CIImage(imaging::NodeRef node, imaging::Sampling sampling)
    : node_(node ? std::move(node) : imaging::emptyNode()), sampling_(sampling) {}

CIImage::CIImage(const CIColor& color) {
    const float a = float(color.alpha);
    const float rgba[4] = {float(color.red) * a, float(color.green) * a, float(color.blue) * a, a};
    node_ = imaging::constantNode(rgba);
}

std::optional<CIImage> CIImage::withBitmapData(std::shared_ptr<const void> owner, const void* bytes,
                                               size_t length, size_t bytesPerRow, int64_t width,
                                               int64_t height, CIFormat format,
                                               bool premultiplied) {
    if (bytes == nullptr || width <= 0 || height <= 0 || width > (int64_t(1) << 31) ||
        height > (int64_t(1) << 31)) {
        return std::nullopt;
    }
    const size_t rowBytes = size_t(width) * bytesPerPixel(format);
    if (bytesPerRow < rowBytes) {
        return std::nullopt;
    }
    // Overflow-free form of (height - 1) · bytesPerRow + rowBytes ≤ length.
    if (length < rowBytes || (length - rowBytes) / bytesPerRow < size_t(height - 1)) {
        return std::nullopt;
    }
    CIImage image(imaging::sourceNode(std::make_shared<BitmapDataSource>(
        std::move(owner), bytes, bytesPerRow, width, height, storageFormat(format))));
    return premultiplied ? image : image.premultiplyingAlpha();
}

std::optional<CIImage> CIImage::withBitmapData(std::shared_ptr<const std::vector<uint8_t>> data,
                                               size_t bytesPerRow, int64_t width, int64_t height,
                                               CIFormat format, bool premultiplied) {
    if (!data) {
        return std::nullopt;
    }
    const void* bytes = data->data();
    const size_t length = data->size();
    return withBitmapData(std::move(data), bytes, length, bytesPerRow, width, height, format,
                          premultiplied);
}

CIImage CIImage::withPixelSource(std::shared_ptr<const imaging::PixelSource> source) {
    return CIImage(imaging::sourceNode(std::move(source)));
}

std::optional<CIImage> CIImage::withTexture(std::shared_ptr<MTLTexture> texture,
                                            const CIImageOptions& options) {
    if (!texture) {
        return std::nullopt;
    }
    const auto format = imaging::storageFormat(texture->pixelFormat());
    if (!format || texture->width() <= 0 || texture->height() <= 0) {
        return std::nullopt;
    }
    imaging::NodeRef node = imaging::sourceNode(
        std::make_shared<imaging::TexturePixelSource>(std::move(texture), *format));
    const CGColorSpaceRef& working = ColorManagement::workingColorSpace();
    if (options.colorSpace && !(*options.colorSpace == *working)) {
        node = imaging::colorConvertNode(std::move(node), options.colorSpace, working);
    }
    return CIImage(std::move(node));
}

std::optional<CIImage> CIImage::withBitmap(const NSBitmapImageRepRef& bitmap) {
    if (!bitmap) {
        return std::nullopt;
    }
    const CGColorSpaceRef& working = ColorManagement::workingColorSpace();
    const CGColorSpaceRef space =
        bitmap->colorSpace() ? bitmap->colorSpace()->cgColorSpace() : CGColorSpaceRef();
    const auto layout = bitmap->pixelLayout();
    const bool direct = layout == PixelLayout::rgba8 || layout == PixelLayout::rgbaFloat32;
    if (direct && (!space || *space == *working)) {
        const CIFormat format = layout == PixelLayout::rgba8 ? CIFormat::RGBA8 : CIFormat::RGBAf;
        return withBitmapData(bitmap, bitmap->bitmapData(), bitmap->dataSize(),
                              size_t(bitmap->bytesPerRow()), bitmap->pixelsWide(),
                              bitmap->pixelsHigh(), format, bitmap->isAlphaPremultiplied());
    }
    // Any other form goes through the graphics conversion into 8-bit straight
    // RGBA in the working space.
    const NSBitmapImageRepRef converted =
        bitmap->converting(ColorManagement::workingNSColorSpace());
    if (!converted) {
        return std::nullopt;
    }
    return withBitmapData(converted, converted->bitmapData(), converted->dataSize(),
                          size_t(converted->bytesPerRow()), converted->pixelsWide(),
                          converted->pixelsHigh(), CIFormat::RGBA8, false);
}

CIImage CIImage::cropped(const CGRect& rect) const {
    if (isEmpty() || imaging::isEmpty(rect)) {
        return CIImage();
    }
    return CIImage(imaging::cropNode(node_, rect), sampling_);
}

CIImage CIImage::transformed(const CGAffineTransform& t) const {
    return transformed(t, true);
}

CIImage CIImage::transformed(const CGAffineTransform& t, bool highQualityDownsample) const {
    if (t.isIdentity()) {
        return *this;
    }
    if (isEmpty()) {
        return CIImage();
    }
    const double det = t.a * t.d - t.b * t.c;
    if (det == 0 || !std::isfinite(det) || !std::isfinite(t.tx) || !std::isfinite(t.ty)) {
        return CIImage();
    }
    if (node_->kind() == imaging::NodeKind::constant) {
        return *this; // a colour everywhere stays the same under any transform
    }
    if (isIntegerTranslation(t)) {
        return CIImage(imaging::translateNode(node_, int64_t(t.tx), int64_t(t.ty)), sampling_);
    }
    // Area averaging of an unbounded image could sum without end; a colour
    // stays the same colour under any scale anyway.
    if (highQualityDownsample && sampling_ == imaging::Sampling::linear &&
        !imaging::isInfinite(extent()) && t.b == 0 && t.c == 0 && t.a > 0 && t.a <= 1 && t.d > 0 &&
        t.d <= 1) {
        return CIImage(imaging::downscaleNode(node_, t.a, t.d, t.tx, t.ty), sampling_);
    }
    return CIImage(imaging::affineNode(node_, t, sampling_), sampling_);
}

CIImage CIImage::samplingNearest() const {
    return CIImage(node_, imaging::Sampling::nearest);
}

CIImage CIImage::samplingLinear() const {
    return CIImage(node_, imaging::Sampling::linear);
}

CIImage CIImage::premultiplyingAlpha() const {
    if (isEmpty()) {
        return *this;
    }
    return CIImage(imaging::premultiplyNode(node_), sampling_);
}

CIImage CIImage::unpremultiplyingAlpha() const {
    if (isEmpty()) {
        return *this;
    }
    return CIImage(imaging::unpremultiplyNode(node_), sampling_);
}

CIImage CIImage::composited(const CIImage& background) const {
    return *CIBlendKernel::sourceOver()->apply(*this, background);
}

} // namespace velmora
