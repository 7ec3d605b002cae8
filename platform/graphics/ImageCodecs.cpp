#include "graphics/ImageCodecs.hpp"

#include "graphics/CodecSupport.hpp"
#include "graphics/ColorManagement.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velmora {

std::string ImageInfo::formatText() const {
    return std::string(modelText(colorSpaceModel)) + " " + std::to_string(bitsPerSample) + " bits";
}

namespace codec {

void fail(ImageCodecError::Kind kind, const std::string& message) {
    throw ImageCodecError(kind, message);
}

void checkPixelCount(int64_t width, int64_t height, const ImageDecodingLimits& limits) {
    if (width < 1 || height < 1) {
        fail(ImageCodecError::Kind::corrupt, "The image has no pixels");
    }
    if (width > (int64_t(1) << 24) || height > (int64_t(1) << 24) ||
        uint64_t(width) * uint64_t(height) > limits.maxPixelCount) {
        fail(ImageCodecError::Kind::tooLarge, "The image is too large: " + std::to_string(width) +
                                                  " x " + std::to_string(height) + " pixels");
    }
}

ImageBuilder::ImageBuilder(int64_t width, int64_t height, PixelLayout source,
                           std::span<const uint8_t> icc)
    : width_(width), height_(height), source_(source) {
    if (!icc.empty()) {
        profile_ = CGColorSpace::withICCData(icc);
    }
    rep_ = NSBitmapImageRep::makeRGBA8(width, height, ColorManagement::workingNSColorSpace());
    if (rep_ == nullptr) {
        fail(ImageCodecError::Kind::tooLarge, "The image cannot be held in memory");
    }
}

void ImageBuilder::putRow(int64_t y, const void* sourceRow) {
    convertPixels(profile_.get(), source_, sourceRow, *ColorManagement::workingColorSpace(),
                  PixelLayout::rgba8, rep_->row(y), static_cast<size_t>(width_));
}

void ImageBuilder::setResolution(double dpiX, double dpiY) {
    if (!(dpiX >= 1 && dpiX <= 1e6 && dpiY >= 1 && dpiY <= 1e6)) {
        return;
    }
    rep_->setSize({double(width_) * 72.0 / dpiX, double(height_) * 72.0 / dpiY});
}

void ImageBuilder::setMetricResolution(double perMetreX, double perMetreY) {
    setResolution(std::round(perMetreX * 0.0254), std::round(perMetreY * 0.0254));
}

CGColorSpaceRef targetSpace(const NSBitmapImageRep& bitmap,
                            const ImageEncodingProperties& properties) {
    if (properties.colorSyncProfileData) {
        auto space = CGColorSpace::withICCData(*properties.colorSyncProfileData);
        if (space == nullptr || space->model() != CGColorSpaceModel::rgb) {
            fail(ImageCodecError::Kind::encodingFailed, "The profile to embed is no RGB profile");
        }
        return space;
    }
    if (bitmap.colorSpace()->colorSpaceModel() == NSColorSpaceModel::rgb) {
        return bitmap.colorSpace()->cgColorSpace();
    }
    return ColorManagement::workingColorSpace();
}

RowReader::RowReader(const NSBitmapImageRep& bitmap, CGColorSpaceRef target)
    : bitmap_(bitmap), target_(std::move(target)) {
    const auto layout = bitmap.pixelLayout();
    if (!layout) {
        fail(ImageCodecError::Kind::encodingFailed, "The bitmap's pixel layout cannot be written");
    }
    layout_ = *layout;
    buffer_.resize(static_cast<size_t>(bitmap.pixelsWide()) * 4);
}

const uint8_t* RowReader::row(int64_t y) {
    const size_t width = static_cast<size_t>(bitmap_.pixelsWide());
    const CGColorSpace* source = bitmap_.colorSpace()->cgColorSpace().get();
    if (bitmap_.isAlphaPremultiplied()) {
        // Colour conversion works on straight values.
        straight_.resize(width * 4);
        convertPixels(nullptr, layout_, bitmap_.row(y), *target_, PixelLayout::rgba8,
                      straight_.data(), width);
        unpremultiplyRGBA8(straight_.data(), width);
        convertPixels(source, PixelLayout::rgba8, straight_.data(), *target_, PixelLayout::rgba8,
                      buffer_.data(), width);
    } else {
        convertPixels(source, layout_, bitmap_.row(y), *target_, PixelLayout::rgba8, buffer_.data(),
                      width);
    }
    return buffer_.data();
}

} // namespace codec

namespace ImageCodecs {

std::optional<NSBitmapImageFileType> fileTypeOf(std::span<const uint8_t> d) {
    auto starts = [&](std::initializer_list<uint8_t> magic) {
        return d.size() >= magic.size() && std::equal(magic.begin(), magic.end(), d.begin());
    };
    if (starts({'I', 'I', 42, 0}) || starts({'M', 'M', 0, 42})) {
        return NSBitmapImageFileType::tiff;
    }
    if (starts({0xFF, 0xD8, 0xFF})) {
        return NSBitmapImageFileType::jpeg;
    }
    if (starts({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) {
        return NSBitmapImageFileType::png;
    }
    if (starts({'G', 'I', 'F', '8', '7', 'a'}) || starts({'G', 'I', 'F', '8', '9', 'a'})) {
        return NSBitmapImageFileType::gif;
    }
    if (starts({'B', 'M'})) {
        return NSBitmapImageFileType::bmp;
    }
    return std::nullopt;
}

ImageInfo readInfo(std::span<const uint8_t> data) {
    const auto type = fileTypeOf(data);
    if (!type) {
        codec::fail(ImageCodecError::Kind::unknownFormat, "The data is not an image we can read");
    }
    switch (*type) {
    case NSBitmapImageFileType::tiff:
        return codec::tiffInfo(data);
    case NSBitmapImageFileType::jpeg:
        return codec::jpegInfo(data);
    case NSBitmapImageFileType::png:
        return codec::pngInfo(data);
    case NSBitmapImageFileType::gif:
        return codec::gifInfo(data);
    case NSBitmapImageFileType::bmp:
        return codec::bmpInfo(data);
    }
    codec::fail(ImageCodecError::Kind::unknownFormat, "The data is not an image we can read");
}

NSBitmapImageRepRef decode(std::span<const uint8_t> data, const ImageDecodingLimits& limits) {
    const auto type = fileTypeOf(data);
    if (!type) {
        codec::fail(ImageCodecError::Kind::unknownFormat, "The data is not an image we can read");
    }
    switch (*type) {
    case NSBitmapImageFileType::tiff:
        return codec::tiffDecode(data, limits);
    case NSBitmapImageFileType::jpeg:
        return codec::jpegDecode(data, limits);
    case NSBitmapImageFileType::png:
        return codec::pngDecode(data, limits);
    case NSBitmapImageFileType::gif:
        return codec::gifDecode(data, limits);
    case NSBitmapImageFileType::bmp:
        return codec::bmpDecode(data, limits);
    }
    codec::fail(ImageCodecError::Kind::unknownFormat, "The data is not an image we can read");
}

std::vector<uint8_t> encode(const NSBitmapImageRep& bitmap, NSBitmapImageFileType type,
                            const ImageEncodingProperties& properties) {
    switch (type) {
    case NSBitmapImageFileType::tiff:
        return codec::tiffEncode(bitmap, properties);
    case NSBitmapImageFileType::jpeg:
        return codec::jpegEncode(bitmap, properties);
    case NSBitmapImageFileType::png:
        return codec::pngEncode(bitmap, properties);
    case NSBitmapImageFileType::gif:
    case NSBitmapImageFileType::bmp:
        break;
    }
    codec::fail(ImageCodecError::Kind::unsupported, "GIF and BMP are read only");
}

namespace {

CGColorSpaceRef tiffSpace(int64_t width, int64_t height,
                          const ImageEncodingProperties& properties) {
    constexpr int64_t largest = int64_t(1) << 30;
    if (width < 1 || height < 1 || width > largest || height > largest) {
        codec::fail(ImageCodecError::Kind::encodingFailed, "A TIFF needs at least one pixel");
    }
    CGColorSpaceRef space = ColorManagement::workingColorSpace();
    if (properties.colorSyncProfileData) {
        space = CGColorSpace::withICCData(*properties.colorSyncProfileData);
        if (space == nullptr || space->model() != CGColorSpaceModel::rgb) {
            codec::fail(ImageCodecError::Kind::encodingFailed,
                        "The profile to embed is no RGB profile");
        }
    }
    return space;
}

codec::BandFiller bandFiller(const RowFiller& rows) {
    return
        [&rows](uint32_t y0, uint32_t y1, uint8_t* rgba) { rows(int64_t(y0), int64_t(y1), rgba); };
}

} // namespace

std::vector<uint8_t> encodeTiff(int64_t width, int64_t height, bool alpha, const RowFiller& rows,
                                const ImageEncodingProperties& properties) {
    const CGColorSpaceRef space = tiffSpace(width, height, properties);
    return codec::tiffEncodeRows(uint32_t(width), uint32_t(height), alpha,
                                 properties.compressionMethod.value_or(1), {}, space->iccData(),
                                 bandFiller(rows));
}

std::optional<LargeBytes> reencodeTiff(std::span<const uint8_t> previous,
                                       const std::vector<std::pair<int64_t, int64_t>>& changedRows,
                                       int64_t width, int64_t height, bool alpha,
                                       const RowFiller& rows,
                                       const ImageEncodingProperties& properties) {
    const CGColorSpaceRef space = tiffSpace(width, height, properties);
    std::vector<codec::RowRange> ranges;
    for (const auto& [first, end] : changedRows) {
        const int64_t a = std::clamp<int64_t>(first, 0, height);
        const int64_t b = std::clamp<int64_t>(end, a, height);
        if (b > a) {
            ranges.push_back({uint32_t(a), uint32_t(b)});
        }
    }
    return codec::tiffReencodeRows(previous, ranges, uint32_t(width), uint32_t(height), alpha,
                                   properties.compressionMethod.value_or(1), {}, space->iccData(),
                                   bandFiller(rows));
}

} // namespace ImageCodecs

} // namespace velmora
