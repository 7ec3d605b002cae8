#pragma once

#include "gpu/MTLGeometry.hpp"
#include "graphics/BitmapRepresentable.hpp"
#include "graphics/CGGeometry.hpp"
#include "graphics/NSColorSpace.hpp"
#include "graphics/PixelAllocator.hpp"
#include "graphics/PixelConversion.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

enum class NSBitmapImageFileType : uint8_t;
struct ImageEncodingProperties;

enum class NSBitmapFormat : uint32_t {
    none = 0,
    alphaFirst = 1u << 0,
    alphaNonpremultiplied = 1u << 1,
    floatingPoint = 1u << 2,
};
constexpr NSBitmapFormat operator|(NSBitmapFormat a, NSBitmapFormat b) {
    return NSBitmapFormat(uint32_t(a) | uint32_t(b));
}
constexpr bool contains(NSBitmapFormat set, NSBitmapFormat flag) {
    return (uint32_t(set) & uint32_t(flag)) != 0;
}

// The colour space names a bitmap can be made with.
namespace NSColorSpaceNames {
inline constexpr std::string_view calibratedRGB = "NSCalibratedRGBColorSpace";
inline constexpr std::string_view deviceRGB = "NSDeviceRGBColorSpace";
inline constexpr std::string_view calibratedWhite = "NSCalibratedWhiteColorSpace";
inline constexpr std::string_view deviceWhite = "NSDeviceWhiteColorSpace";
} // namespace NSColorSpaceNames

// A bitmap image in memory: rows top first, samples interleaved unless planar.
class NSBitmapImageRep : public BitmapRepresentable,
                         public std::enable_shared_from_this<NSBitmapImageRep> {
public:
    // Allocates zeroed pixels for the given form; nullptr when the form is refused
    // (sizes below 1, unsupported depth, a row too short, an unknown space name).
    // bytesPerRow and bitsPerPixel of 0 mean "as small as the form allows".
    static std::shared_ptr<NSBitmapImageRep>
    make(int64_t pixelsWide, int64_t pixelsHigh, int bitsPerSample, int samplesPerPixel,
         bool hasAlpha, bool isPlanar, std::string_view colorSpaceName,
         NSBitmapFormat bitmapFormat = NSBitmapFormat::none, int64_t bytesPerRow = 0,
         int bitsPerPixel = 0);

    // 8 bits a sample, RGBA, straight alpha, tightly packed, in the given RGB space.
    static std::shared_ptr<NSBitmapImageRep> makeRGBA8(int64_t pixelsWide, int64_t pixelsHigh,
                                                       NSColorSpaceRef space);

    // Decodes an image file (TIFF, JPEG, PNG, GIF, BMP) into 8-bit straight RGBA
    // in the working space; nullptr when the data is no readable image.
    static std::shared_ptr<NSBitmapImageRep> imageRepWithData(std::span<const uint8_t> data);

    // The bitmap as a TIFF, JPEG or PNG file; none when it cannot be written.
    std::optional<std::vector<uint8_t>>
    representation(NSBitmapImageFileType type, const ImageEncodingProperties& properties) const;

    int64_t pixelsWide() const { return pixelsWide_; }
    int64_t pixelsHigh() const { return pixelsHigh_; }
    // Width × height × 1 in pixels, whatever the size in points.
    MTLSize pixelSize() const { return {pixelsWide_, pixelsHigh_, 1}; }
    // Size in points (pixels at 72 dpi).
    CGSize size() const { return size_; }
    void setSize(CGSize size) { size_ = size; }

    int bitsPerSample() const { return bitsPerSample_; }
    int samplesPerPixel() const { return samplesPerPixel_; }
    int bitsPerPixel() const { return bitsPerPixel_; }
    bool hasAlpha() const { return hasAlpha_; }
    bool isPlanar() const { return isPlanar_; }
    int numberOfPlanes() const { return isPlanar_ ? samplesPerPixel_ : 1; }
    NSBitmapFormat bitmapFormat() const { return bitmapFormat_; }
    bool isAlphaPremultiplied() const {
        return hasAlpha_ && !contains(bitmapFormat_, NSBitmapFormat::alphaNonpremultiplied);
    }
    int64_t bytesPerRow() const { return bytesPerRow_; }
    int64_t bytesPerPlane() const { return bytesPerRow_ * pixelsHigh_; }
    const std::string& colorSpaceName() const { return colorSpaceName_; }
    const NSColorSpaceRef& colorSpace() const { return colorSpace_; }

    uint8_t* bitmapData() { return data_.data(); }
    const uint8_t* bitmapData() const { return data_.data(); }
    size_t dataSize() const { return data_.size(); }
    uint8_t* row(int64_t y) { return data_.data() + y * bytesPerRow_; }
    const uint8_t* row(int64_t y) const { return data_.data() + y * bytesPerRow_; }

    // The interleaved layout of the pixels when they have one (not planar, alpha
    // last, 8 or 16-bit integers or 32-bit floats); the alpha may be premultiplied.
    std::optional<PixelLayout> pixelLayout() const;

    // A copy whose pixels are described by another space of the same model
    // (no conversion); nullptr when the model differs.
    std::shared_ptr<NSBitmapImageRep> retagging(const NSColorSpaceRef& space) const;
    // A copy converted into another RGB space, as 8-bit RGBA with straight alpha;
    // nullptr when the space is not RGB or the pixels have no interleaved layout.
    std::shared_ptr<NSBitmapImageRep> converting(const NSColorSpaceRef& space) const;

    // Itself: the same object.
    std::shared_ptr<NSBitmapImageRep> asBitmap() override { return shared_from_this(); }

    // "NSBitmapImageRep Size={w, h} ColorSpace=... BPS=8 BPP=32 Pixels=wxh Alpha=YES ..."
    std::string description() const;

    NSBitmapImageRep(int64_t pixelsWide, int64_t pixelsHigh, int bitsPerSample, int samplesPerPixel,
                     bool hasAlpha, bool isPlanar, std::string colorSpaceName,
                     NSColorSpaceRef colorSpace, NSBitmapFormat bitmapFormat, int64_t bytesPerRow,
                     int bitsPerPixel, size_t dataSize);

private:
    int64_t pixelsWide_, pixelsHigh_;
    int bitsPerSample_, samplesPerPixel_;
    bool hasAlpha_, isPlanar_;
    std::string colorSpaceName_;
    NSColorSpaceRef colorSpace_;
    NSBitmapFormat bitmapFormat_;
    int64_t bytesPerRow_;
    int bitsPerPixel_;
    CGSize size_;
    std::vector<uint8_t, PixelAllocator<uint8_t>> data_;
};

using NSBitmapImageRepRef = std::shared_ptr<NSBitmapImageRep>;

} // namespace velmora
