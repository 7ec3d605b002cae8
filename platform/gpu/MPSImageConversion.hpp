#pragma once

#include "gpu/MTLCommandBuffer.hpp"
#include "gpu/MTLDevice.hpp"
#include "gpu/MTLGeometry.hpp"
#include "gpu/MTLTexture.hpp"
#include "graphics/CGColorSpace.hpp"

#include <array>
#include <memory>
#include <optional>
#include <string>

namespace velmora {

enum class MPSAlphaType : uint64_t { nonPremultiplied = 0, alphaIsOne = 1, premultiplied = 2 };

struct MPSOffset {
    int64_t x = 0, y = 0, z = 0;
    friend bool operator==(const MPSOffset&, const MPSOffset&) = default;
};

// The colour conversion between two spaces that a pixel-format conversion may apply.
struct CGColorConversionInfo {
    CGColorSpaceRef source;
    CGColorSpaceRef destination;
};

// None when either space is missing.
std::optional<CGColorConversionInfo> CGColorConversionInfoCreate(CGColorSpaceRef source,
                                                                 CGColorSpaceRef destination);

// Copies pixels between textures of any two formats, converting alpha handling and,
// when given, colour space (lcms2). Destination pixel p of the clip rectangle reads
// source pixel p + offset; source pixels outside the source read as zero.
class MPSImageConversion {
public:
    MPSImageConversion(std::shared_ptr<MTLDevice> device, MPSAlphaType sourceAlpha,
                       MPSAlphaType destinationAlpha,
                       std::optional<std::array<double, 4>> backgroundColor,
                       std::optional<CGColorConversionInfo> conversionInfo);

    std::optional<std::string> label() const { return label_; }
    void setLabel(std::optional<std::string> label) { label_ = std::move(label); }
    MPSOffset offset() const { return offset_; }
    void setOffset(MPSOffset offset) { offset_ = offset; }
    // Defaults to the whole destination; clipped to it.
    MTLRegion clipRect() const { return clipRect_; }
    void setClipRect(MTLRegion clipRect) { clipRect_ = clipRect; }

    MPSAlphaType sourceAlpha() const { return sourceAlpha_; }
    MPSAlphaType destinationAlpha() const { return destinationAlpha_; }

    void encode(MTLCommandBuffer& commandBuffer, std::shared_ptr<MTLTexture> sourceTexture,
                std::shared_ptr<MTLTexture> destinationTexture) const;

private:
    std::shared_ptr<MTLDevice> device_;
    MPSAlphaType sourceAlpha_;
    MPSAlphaType destinationAlpha_;
    std::optional<std::array<double, 4>> background_;
    std::optional<CGColorConversionInfo> conversion_;
    std::optional<std::string> label_;
    MPSOffset offset_;
    MTLRegion clipRect_;
};

} // namespace velmora
