#pragma once

#include "gpu/MTLTexture.hpp"
#include "graphics/CGColorSpace.hpp"
#include "graphics/CGGeometry.hpp"
#include "graphics/NSBitmapImageRep.hpp"
#include "imaging/CIColor.hpp"
#include "imaging/CIFormat.hpp"
#include "imaging/ImageNode.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace velmora {

struct CIImageOptions {
    // The space the stored colour is in (kCIImageColorSpace); none means the
    // working space. Other spaces are converted into the working space.
    CGColorSpaceRef colorSpace;
};

// An immutable recipe for an image: premultiplied pixels in a y-up pixel
// space where pixel (x, y) covers [x, x+1) × [y, y+1). Nothing is computed
// until a context renders it; copies share the recipe.
class CIImage {
public:
    // The empty image: no pixels, empty extent.
    CIImage();
    static CIImage empty() { return CIImage(); }
    // A colour everywhere (infinite extent), premultiplied from its straight
    // components.
    explicit CIImage(const CIColor& color);

    // Bitmap data, first row the top of the picture, taken as premultiplied
    // unless `premultiplied` is false (then premultiplied on read). Nothing
    // for sizes or strides that do not fit the data. The owner keeps the
    // bytes alive as long as the image.
    static std::optional<CIImage> withBitmapData(std::shared_ptr<const void> owner,
                                                 const void* bytes, size_t length,
                                                 size_t bytesPerRow, int64_t width, int64_t height,
                                                 CIFormat format, bool premultiplied = true);
    static std::optional<CIImage> withBitmapData(std::shared_ptr<const std::vector<uint8_t>> data,
                                                 size_t bytesPerRow, int64_t width, int64_t height,
                                                 CIFormat format, bool premultiplied = true);
    // Pixels from a source read when the render runs, as stored: callers
    // premultiply straight sources.
    static CIImage withPixelSource(std::shared_ptr<const imaging::PixelSource> source);
    // A texture's pixels as stored (texture row r is y = r), read when a render
    // runs on the device's timeline; taken as premultiplied, so layer textures
    // with straight alpha are premultiplied by the caller. Nothing for a pixel
    // format other than rgba8Unorm, bgra8Unorm, rgba16Float and rgba32Float.
    static std::optional<CIImage> withTexture(std::shared_ptr<MTLTexture> texture,
                                              const CIImageOptions& options = {});
    // A bitmap's pixels (top row first), premultiplied as needed and converted
    // into the working space. The bitmap must not change while the image is
    // used. Nothing for a bitmap without an RGB or grey form.
    static std::optional<CIImage> withBitmap(const NSBitmapImageRepRef& bitmap);

    CGRect extent() const { return node_->extent(); }
    bool isEmpty() const { return imaging::isEmpty(extent()); }

    CIImage cropped(const CGRect& rect) const;
    // Linear sampling (area averaging for a pure down-scale) unless the image
    // samples nearest.
    CIImage transformed(const CGAffineTransform& t) const;
    // With `highQualityDownsample` false a down-scale samples bilinearly.
    CIImage transformed(const CGAffineTransform& t, bool highQualityDownsample) const;
    CIImage samplingNearest() const;
    CIImage samplingLinear() const;
    CIImage premultiplyingAlpha() const;
    CIImage unpremultiplyingAlpha() const;
    // Source-over of this image over `background`.
    CIImage composited(const CIImage& background) const;

    const imaging::NodeRef& node() const { return node_; }
    explicit CIImage(imaging::NodeRef node, imaging::Sampling sampling = imaging::Sampling::linear);

    // Same recipe object, as the platform compares images.
    friend bool operator==(const CIImage& a, const CIImage& b) {
        return a.node_ == b.node_ && a.sampling_ == b.sampling_;
    }

private:
    imaging::NodeRef node_;
    imaging::Sampling sampling_ = imaging::Sampling::linear;
};

} // namespace velmora
