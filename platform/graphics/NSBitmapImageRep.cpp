#include "graphics/NSBitmapImageRep.hpp"

#include "foundation/CheckedMath.hpp"
#include "foundation/FatalError.hpp"
#include "graphics/CodecSupport.hpp"
#include "graphics/ImageCodecs.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace velmora {

namespace {

// Larger bitmaps are refused rather than attempted.
constexpr int64_t kMaxBitmapBytes = int64_t(1) << 34;

NSColorSpaceRef spaceNamed(std::string_view name) {
    if (name == NSColorSpaceNames::calibratedRGB) {
        return NSColorSpace::genericRGBColorSpace();
    }
    if (name == NSColorSpaceNames::deviceRGB) {
        return NSColorSpace::sRGBColorSpace();
    }
    if (name == NSColorSpaceNames::calibratedWhite || name == NSColorSpaceNames::deviceWhite) {
        return NSColorSpace::genericGrayColorSpace();
    }
    return nullptr;
}

std::string_view nameFor(const NSColorSpace& space) {
    return space.colorSpaceModel() == NSColorSpaceModel::gray ? NSColorSpaceNames::calibratedWhite
                                                              : NSColorSpaceNames::calibratedRGB;
}

} // namespace

NSBitmapImageRep::NSBitmapImageRep(int64_t pixelsWide, int64_t pixelsHigh, int bitsPerSample,
                                   int samplesPerPixel, bool hasAlpha, bool isPlanar,
                                   std::string colorSpaceName, NSColorSpaceRef colorSpace,
                                   NSBitmapFormat bitmapFormat, int64_t bytesPerRow,
                                   int bitsPerPixel, size_t dataSize)
    : pixelsWide_(pixelsWide), pixelsHigh_(pixelsHigh), bitsPerSample_(bitsPerSample),
      samplesPerPixel_(samplesPerPixel), hasAlpha_(hasAlpha), isPlanar_(isPlanar),
      colorSpaceName_(std::move(colorSpaceName)), colorSpace_(std::move(colorSpace)),
      bitmapFormat_(bitmapFormat), bytesPerRow_(bytesPerRow),
      bitsPerPixel_(bitsPerPixel), size_{double(pixelsWide), double(pixelsHigh)},
      data_(dataSize) {}

std::shared_ptr<NSBitmapImageRep> NSBitmapImageRep::make(int64_t pixelsWide, int64_t pixelsHigh,
                                                         int bitsPerSample, int samplesPerPixel,
                                                         bool hasAlpha, bool isPlanar,
                                                         std::string_view colorSpaceName,
                                                         NSBitmapFormat bitmapFormat,
                                                         int64_t bytesPerRow, int bitsPerPixel) {
    auto space = spaceNamed(colorSpaceName);
    if (space == nullptr || pixelsWide < 1 || pixelsHigh < 1 || pixelsWide > (1 << 24) ||
        pixelsHigh > (1 << 24)) {
        return nullptr;
    }
    const bool isFloat = contains(bitmapFormat, NSBitmapFormat::floatingPoint);
    const bool depthOK = isFloat
                             ? bitsPerSample == 32
                             : (bitsPerSample == 1 || bitsPerSample == 2 || bitsPerSample == 4 ||
                                bitsPerSample == 8 || bitsPerSample == 16);
    const int colours = static_cast<int>(space->numberOfColorComponents());
    if (!depthOK || samplesPerPixel != colours + (hasAlpha ? 1 : 0)) {
        return nullptr;
    }
    const int packedBits = isPlanar ? bitsPerSample : bitsPerSample * samplesPerPixel;
    if (bitsPerPixel == 0) {
        bitsPerPixel = packedBits;
    }
    if (bitsPerPixel < packedBits || bitsPerPixel % bitsPerSample != 0) {
        return nullptr;
    }
    const int64_t minimumRow = (pixelsWide * bitsPerPixel + 7) / 8;
    if (bytesPerRow == 0) {
        bytesPerRow = minimumRow;
    }
    if (bytesPerRow < minimumRow || bytesPerRow > kMaxBitmapBytes) {
        return nullptr;
    }
    const int64_t planes = isPlanar ? samplesPerPixel : 1;
    if (bytesPerRow * pixelsHigh > kMaxBitmapBytes / planes) {
        return nullptr;
    }
    return std::make_shared<NSBitmapImageRep>(
        pixelsWide, pixelsHigh, bitsPerSample, samplesPerPixel, hasAlpha, isPlanar,
        std::string(colorSpaceName), std::move(space), bitmapFormat, bytesPerRow, bitsPerPixel,
        static_cast<size_t>(bytesPerRow * pixelsHigh * planes));
}

std::shared_ptr<NSBitmapImageRep>
NSBitmapImageRep::makeRGBA8(int64_t pixelsWide, int64_t pixelsHigh, NSColorSpaceRef space) {
    if (space == nullptr || space->colorSpaceModel() != NSColorSpaceModel::rgb) {
        return nullptr;
    }
    auto rep = make(pixelsWide, pixelsHigh, 8, 4, true, false, NSColorSpaceNames::calibratedRGB,
                    NSBitmapFormat::alphaNonpremultiplied);
    if (rep != nullptr) {
        rep->colorSpace_ = std::move(space);
    }
    return rep;
}

std::shared_ptr<NSBitmapImageRep>
NSBitmapImageRep::imageRepWithData(std::span<const uint8_t> data) {
    try {
        return ImageCodecs::decode(data);
    } catch (const ImageCodecError&) {
        return nullptr;
    }
}

std::optional<std::vector<uint8_t>>
NSBitmapImageRep::representation(NSBitmapImageFileType type,
                                 const ImageEncodingProperties& properties) const {
    try {
        return ImageCodecs::encode(*this, type, properties);
    } catch (const ImageCodecError&) {
        return std::nullopt;
    }
}

std::optional<PixelLayout> NSBitmapImageRep::pixelLayout() const {
    if (isPlanar_ || contains(bitmapFormat_, NSBitmapFormat::alphaFirst) ||
        bitsPerPixel_ != bitsPerSample_ * samplesPerPixel_) {
        return std::nullopt;
    }
    const bool isFloat = contains(bitmapFormat_, NSBitmapFormat::floatingPoint);
    const bool gray = colorSpace_->colorSpaceModel() == NSColorSpaceModel::gray;
    switch (bitsPerSample_) {
    case 8:
        return gray ? (hasAlpha_ ? PixelLayout::grayAlpha8 : PixelLayout::gray8)
                    : (hasAlpha_ ? PixelLayout::rgba8 : PixelLayout::rgb8);
    case 16:
        return gray ? (hasAlpha_ ? PixelLayout::grayAlpha16 : PixelLayout::gray16)
                    : (hasAlpha_ ? PixelLayout::rgba16 : PixelLayout::rgb16);
    case 32:
        if (isFloat && !gray && hasAlpha_) {
            return PixelLayout::rgbaFloat32;
        }
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

std::shared_ptr<NSBitmapImageRep> NSBitmapImageRep::retagging(const NSColorSpaceRef& space) const {
    if (space == nullptr || space->colorSpaceModel() != colorSpace_->colorSpaceModel()) {
        return nullptr;
    }
    auto copy = std::make_shared<NSBitmapImageRep>(*this);
    copy->colorSpace_ = space;
    copy->colorSpaceName_ = nameFor(*space);
    return copy;
}

std::shared_ptr<NSBitmapImageRep> NSBitmapImageRep::converting(const NSColorSpaceRef& space) const {
    const auto layout = pixelLayout();
    if (space == nullptr || space->colorSpaceModel() != NSColorSpaceModel::rgb || !layout) {
        return nullptr;
    }
    auto result = makeRGBA8(pixelsWide_, pixelsHigh_, space);
    if (result == nullptr) {
        return nullptr;
    }
    result->size_ = size_;
    codec::RowReader rows(*this, space->cgColorSpace());
    for (int64_t y = 0; y < pixelsHigh_; ++y) {
        std::memcpy(result->row(y), rows.row(y), static_cast<size_t>(pixelsWide_) * 4);
    }
    return result;
}

std::string NSBitmapImageRep::description() const {
    auto number = [](double v) {
        char text[32];
        const int n = std::snprintf(text, sizeof text, "%.0f", v);
        return std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
    };
    std::string text =
        "NSBitmapImageRep Size={" + number(size_.width) + ", " + number(size_.height) +
        "} ColorSpace=" + colorSpace_->localizedName() + " BPS=" + std::to_string(bitsPerSample_) +
        " BPP=" + std::to_string(bitsPerPixel_) + " Pixels=" + std::to_string(pixelsWide_) + "x" +
        std::to_string(pixelsHigh_) + " Alpha=" + (hasAlpha_ ? "YES" : "NO") +
        " Planar=" + (isPlanar_ ? "YES" : "NO") +
        " Format=" + std::to_string(uint32_t(bitmapFormat_));
    return text;
}

} // namespace velmora
