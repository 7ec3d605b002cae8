#include "Canvas/CanvasPreviews.hpp"

#include "Canvas/CanvasSize.hpp"
#include "graphics/ColorManagement.hpp"
#include "graphics/ImageCodecs.hpp"

#include <algorithm>
#include <cmath>
#include <tbb/blocked_range.h>
#include <tbb/parallel_reduce.h>

namespace velmora {

namespace {

constexpr std::string_view kPreviewsKey = "previews";
constexpr CGFloat standardSides[] = {64, 256};

// Whole pixels for a scaled side: a product that misses a whole number by a
// rounding error counts as that number, and the target is never exceeded.
int64_t scaledSide(CGFloat side, CGFloat scale, CGFloat target) {
    const CGFloat exact = side * scale;
    const CGFloat nearest = std::round(exact);
    const CGFloat whole = std::abs(exact - nearest) < 1e-6 ? nearest : std::ceil(exact);
    return std::max<int64_t>(1, std::min<int64_t>(int64_t(whole), int64_t(target + 1e-6)));
}

std::vector<CGSize> keysByWidth(const CanvasPreviews::Previews& previews) {
    std::vector<CGSize> keys;
    keys.reserve(previews.size());
    for (const auto& entry : previews) {
        keys.push_back(entry.first);
    }
    std::stable_sort(keys.begin(), keys.end(),
                     [](const CGSize& a, const CGSize& b) { return a.width < b.width; });
    return keys;
}

bool fits(const CGSize& size, const CGSize& target) {
    return size.width <= target.width && size.height <= target.height;
}

// Interleaved 8-bit RGBA with every alpha at 255: the image graph's round trip
// gives such pixels back unchanged, so a canvas-sized preview is encoded as it
// is instead of being rendered into a second copy first.
bool isOpaqueRGBA8(const NSBitmapImageRep& bitmap) {
    if (bitmap.bitsPerSample() != 8 || bitmap.samplesPerPixel() != 4 || !bitmap.hasAlpha() ||
        bitmap.isPlanar() || contains(bitmap.bitmapFormat(), NSBitmapFormat::alphaFirst)) {
        return false;
    }
    return tbb::parallel_reduce(
        tbb::blocked_range<int64_t>(0, bitmap.pixelsHigh(), 64), true,
        [&](const tbb::blocked_range<int64_t>& rows, bool opaque) {
            for (int64_t y = rows.begin(); opaque && y < rows.end(); ++y) {
                const uint8_t* row = bitmap.row(y);
                for (int64_t x = 0; x < bitmap.pixelsWide(); ++x) {
                    opaque &= row[4 * x + 3] == 255;
                }
            }
            return opaque;
        },
        [](bool a, bool b) { return a && b; });
}

std::optional<std::vector<uint8_t>> directJpeg(const NSBitmapImageRep& bitmap,
                                               const CIImageRepresentationOptions& options) {
    ImageEncodingProperties properties;
    properties.compressionFactor = options.lossyCompressionQuality;
    try {
        return ImageCodecs::encode(bitmap, NSBitmapImageFileType::jpeg, properties);
    } catch (const ImageCodecError&) {
        return std::nullopt;
    }
}

} // namespace

std::shared_ptr<CanvasPreviews>
CanvasPreviews::makeStandardPreviews(const std::shared_ptr<NSBitmapImageRep>& bitmap) {
    auto result = std::make_shared<CanvasPreviews>();
    result->previews[bitmap->size()] = bitmap;
    for (const CGFloat side : standardSides) {
        const CGSize size = bitmap->size();
        if (side < size.width || side < size.height) {
            auto preview = result->scaled(bitmap, {side, side});
            result->previews[preview->size()] = std::move(preview);
        }
    }
    return result;
}

std::shared_ptr<NSBitmapImageRep> CanvasPreviews::bestPreview() const {
    if (previews.empty()) {
        return nullptr;
    }
    return previews.at(keysByWidth(previews).back());
}

std::shared_ptr<NSBitmapImageRep> CanvasPreviews::bestPreview(const CGSize& size) {
    if (previews.empty()) {
        return nullptr;
    }
    const std::vector<CGSize> keys = keysByWidth(previews);
    for (std::size_t i = keys.size(); i-- > 0;) {
        const auto& preview = previews.at(keys[i]);
        const CGSize own = preview->size();
        if (!fits(own, size)) {
            continue;
        }
        if (own.width == size.width || own.height == size.height || i + 1 == keys.size()) {
            return preview;
        }
        return scaled(previews.at(keys[i + 1]), size);
    }
    auto preview = scaled(previews.at(keys.back()), size);
    previews[preview->size()] = preview;
    return preview;
}

std::shared_ptr<NSBitmapImageRep> CanvasPreviews::scaled(const NSBitmapImageRepRef& bitmap,
                                                         const CGSize& size) {
    auto image = CIImage::withBitmap(bitmap);
    if (!image) {
        fatalError("A preview gives no image");
    }
    const CGRect extent = image->extent();
    const CGFloat scale =
        std::min(size.width / extent.size.width, size.height / extent.size.height);
    CGRect bounds = extent;
    if (scale < 1) {
        const int64_t width = scaledSide(extent.size.width, scale, size.width);
        const int64_t height = scaledSide(extent.size.height, scale, size.height);
        *image =
            image->transformed(CGAffineTransform::makeScale(CGFloat(width) / extent.size.width,
                                                            CGFloat(height) / extent.size.height),
                               true);
        bounds = {{0, 0}, {CGFloat(width), CGFloat(height)}};
    }
    auto result = context().createBitmap(*image, bounds);
    if (!result) {
        fatalError("A preview cannot be rendered");
    }
    return result;
}

const CIContext& CanvasPreviews::context() const {
    if (!context_) {
        CIContextOptions options;
        options.outputPremultiplied = false;
        options.workingColorSpace = ColorManagement::workingColorSpace();
        options.outputColorSpace = ColorManagement::workingColorSpace();
        context_.emplace(options);
    }
    return *context_;
}

void CanvasPreviews::encode(Encoder& encoder) const {
    std::vector<SharedBytes> jpegs; // handed to the archive without a copy
    jpegs.reserve(previews.size());
    for (const auto& [size, preview] : previews) {
        const auto image = CIImage::withBitmap(preview);
        if (!image) {
            fatalError("A preview gives no image");
        }
        const NSColorSpaceRef& space = preview->colorSpace();
        if (!space || !space->cgColorSpace()) {
            fatalError("A preview has no colour space");
        }
        CIImageRepresentationOptions options;
        options.lossyCompressionQuality = 1.0;
        auto jpeg = isOpaqueRGBA8(*preview)
                        ? directJpeg(*preview, options)
                        : context().jpegRepresentation(*image, space->cgColorSpace(), options);
        if (!jpeg) {
            fatalError("A preview cannot be written as JPEG");
        }
        jpegs.emplace_back(std::move(*jpeg));
    }
    KeyedEncodingContainer container = encoder.container();
    container.encode(jpegs, kPreviewsKey);
}

std::shared_ptr<CanvasPreviews> CanvasPreviews::decode(Decoder& decoder) {
    const KeyedDecodingContainer container = decoder.container();
    const auto jpegs = container.decode<std::vector<std::vector<uint8_t>>>(kPreviewsKey);
    auto result = std::make_shared<CanvasPreviews>();
    for (const auto& data : jpegs) {
        // The header tells the size: nothing larger than a canvas is decoded.
        ImageInfo info;
        try {
            info = ImageCodecs::readInfo(data);
        } catch (const ImageCodecError& error) {
            throw container.dataCorruptedError(
                kPreviewsKey, std::string("A preview is no readable image: ") + error.what());
        }
        if (!isAcceptableCanvasSize({info.pixelsWide, info.pixelsHigh, 1})) {
            throw container.dataCorruptedError(kPreviewsKey,
                                               "A preview is larger than any canvas.");
        }
        auto preview = NSBitmapImageRep::imageRepWithData(data);
        if (!preview) {
            throw container.dataCorruptedError(kPreviewsKey, "A preview is no readable image.");
        }
        result->previews[preview->size()] = std::move(preview);
    }
    return result;
}

} // namespace velmora
