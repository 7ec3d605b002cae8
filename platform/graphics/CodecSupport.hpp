#pragma once

#include "graphics/ImageCodecs.hpp"
#include "graphics/PixelConversion.hpp"

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Shared plumbing of the image codecs; not for use outside them.
namespace velmora::codec {

[[noreturn]] void fail(ImageCodecError::Kind kind, const std::string& message);

// Throws tooLarge when width × height exceeds the limit, corrupt when either is below 1.
void checkPixelCount(int64_t width, int64_t height, const ImageDecodingLimits& limits);

// Collects decoded rows as 8-bit straight RGBA in the working space.
class ImageBuilder {
public:
    // `icc` may be empty or unusable: the rows are then taken as sRGB.
    ImageBuilder(int64_t width, int64_t height, PixelLayout source, std::span<const uint8_t> icc);

    int64_t width() const { return width_; }
    int64_t height() const { return height_; }
    // Converts one row of `source` layout (straight alpha) into row y.
    void putRow(int64_t y, const void* sourceRow);
    uint8_t* rgbaRow(int64_t y) { return rep_->row(y); }
    // Sets the size in points from a resolution in dots per inch (ignored when not sensible).
    void setResolution(double dpiX, double dpiY);
    // The same from pixels a metre; rounded to whole dots an inch, since 2835 a
    // metre is how metric formats spell 72 dpi.
    void setMetricResolution(double perMetreX, double perMetreY);
    NSBitmapImageRepRef finish() { return std::move(rep_); }

private:
    int64_t width_, height_;
    PixelLayout source_;
    CGColorSpaceRef profile_;
    NSBitmapImageRepRef rep_;
};

// Rows of a bitmap as 8-bit straight RGBA in a target RGB space, for the writers.
class RowReader {
public:
    // Throws encodingFailed when the bitmap's pixels have no convertible layout.
    RowReader(const NSBitmapImageRep& bitmap, CGColorSpaceRef target);
    const uint8_t* row(int64_t y);

private:
    const NSBitmapImageRep& bitmap_;
    CGColorSpaceRef target_;
    PixelLayout layout_;
    std::vector<uint8_t> buffer_, straight_;
};

// The profile a writer embeds and converts into: the given bytes when they are an
// RGB profile, else the bitmap's own RGB space, else sRGB.
CGColorSpaceRef targetSpace(const NSBitmapImageRep& bitmap,
                            const ImageEncodingProperties& properties);

// Per-format entry points.
ImageInfo tiffInfo(std::span<const uint8_t> data);
NSBitmapImageRepRef tiffDecode(std::span<const uint8_t> data, const ImageDecodingLimits& limits);
std::vector<uint8_t> tiffEncode(const NSBitmapImageRep& bitmap,
                                const ImageEncodingProperties& properties);
// Fills rows [y0, y1) as 8-bit straight RGBA, 4 · width bytes a row, top row
// first; called from several threads at once for different rows.
using BandFiller = std::function<void(uint32_t y0, uint32_t y1, uint8_t* rgba)>;
struct TiffResolution {
    float dpiX = 72, dpiY = 72;
};
// A TIFF whose rows are made band by band as the encoder needs them; `icc` is
// embedded as it is.
std::vector<uint8_t> tiffEncodeRows(uint32_t width, uint32_t height, bool alpha, int method,
                                    const TiffResolution& resolution,
                                    const std::vector<uint8_t>& icc, const BandFiller& fill);
// Rows [first, end), top row first.
struct RowRange {
    uint32_t first = 0, end = 0;
};
// What tiffEncodeRows writes now, made from `previous`, a TIFF of the same
// picture before `changedRows` changed: only the strips those rows meet are
// encoded, the others' coded bytes copied. None when `previous` is laid out
// or coded otherwise than tiffEncodeRows would do it now, or every strip
// changed: the caller encodes the whole picture.
std::optional<LargeBytes> tiffReencodeRows(std::span<const uint8_t> previous,
                                           std::span<const RowRange> changedRows, uint32_t width,
                                           uint32_t height, bool alpha, int method,
                                           const TiffResolution& resolution,
                                           const std::vector<uint8_t>& icc, const BandFiller& fill);
ImageInfo jpegInfo(std::span<const uint8_t> data);
NSBitmapImageRepRef jpegDecode(std::span<const uint8_t> data, const ImageDecodingLimits& limits);
std::vector<uint8_t> jpegEncode(const NSBitmapImageRep& bitmap,
                                const ImageEncodingProperties& properties);
ImageInfo pngInfo(std::span<const uint8_t> data);
NSBitmapImageRepRef pngDecode(std::span<const uint8_t> data, const ImageDecodingLimits& limits);
std::vector<uint8_t> pngEncode(const NSBitmapImageRep& bitmap,
                               const ImageEncodingProperties& properties);
ImageInfo gifInfo(std::span<const uint8_t> data);
NSBitmapImageRepRef gifDecode(std::span<const uint8_t> data, const ImageDecodingLimits& limits);
ImageInfo bmpInfo(std::span<const uint8_t> data);
NSBitmapImageRepRef bmpDecode(std::span<const uint8_t> data, const ImageDecodingLimits& limits);

} // namespace velmora::codec
