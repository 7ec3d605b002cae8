#pragma once

#include "Extensions/CGGeometryExtensions.hpp"
#include "coding/Coding.hpp"
#include "graphics/CGGeometry.hpp"
#include "graphics/NSBitmapImageRep.hpp"
#include "imaging/CIContext.hpp"

#include <memory>
#include <optional>
#include <unordered_map>

namespace velmora {

// Flat pictures of a canvas kept beside it in a document, so that it can be
// shown without decoding and compositing its layers: the flattened canvas and
// copies that fit squares of 64 and 256, each under its own size in points.
class CanvasPreviews {
public:
    using Previews = std::unordered_map<CGSize, std::shared_ptr<NSBitmapImageRep>>;

    // The bitmap itself and its copies scaled to fit the standard squares;
    // never enlarged.
    static std::shared_ptr<CanvasPreviews>
    makeStandardPreviews(const std::shared_ptr<NSBitmapImageRep>& bitmap);

    Previews previews;

    // The widest; none when there are no previews.
    std::shared_ptr<NSBitmapImageRep> bestPreview() const;
    // The widest preview that fits `size`, or the next wider one scaled to
    // fit when that one is strictly smaller in both directions. When none
    // fits, the widest scaled to fit, which is kept for later requests.
    std::shared_ptr<NSBitmapImageRep> bestPreview(const CGSize& size);
    // A copy no larger than `size` in pixels, with the aspect ratio kept as
    // closely as whole pixels allow; never enlarged.
    std::shared_ptr<NSBitmapImageRep> scaled(const NSBitmapImageRepRef& bitmap, const CGSize& size);

    // "previews": the JPEG data of each preview at full quality.
    void encode(Encoder& encoder) const;
    // Throws DecodingError when "previews" is missing or of the wrong type, or
    // holds data that is no readable image or is larger than a canvas.
    static std::shared_ptr<CanvasPreviews> decode(Decoder& decoder);

private:
    const CIContext& context() const;

    mutable std::optional<CIContext> context_;
};

} // namespace velmora
