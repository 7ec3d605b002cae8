#pragma once

#include "graphics/CGColorSpace.hpp"
#include "graphics/CGGeometry.hpp"
#include "graphics/NSBitmapImageRep.hpp"
#include "imaging/CIFormat.hpp"
#include "imaging/CIImage.hpp"
#include "imaging/CIRenderDestination.hpp"
#include "imaging/TileBuffer.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace velmora {

struct CIContextOptions {
    // Whether bitmaps rendered by `render` hold premultiplied colour.
    bool outputPremultiplied = true;
    // The space images are blended in (none: the working space). Images are
    // brought into the working space when they are made, so only that space
    // is supported here.
    CGColorSpaceRef workingColorSpace;
    // The space of rendered bitmaps (none: the working space).
    CGColorSpaceRef outputColorSpace;
};

// Options of the file representations.
struct CIImageRepresentationOptions {
    // JPEG quality from 0 to 1 (kCGImageDestinationLossyCompressionQuality).
    std::optional<double> lossyCompressionQuality;
};

// A render that cannot start (a destination format the evaluator does not write).
class CIContextError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A started render. Bitmap renders are done when `startTask` returns; a
// texture render is done when its command buffer has run.
class CIRenderTask {
public:
    CIRenderTask() = default;
    explicit CIRenderTask(std::shared_ptr<MTLCommandBuffer> buffer) : buffer_(std::move(buffer)) {}
    // For a texture render: the command buffer must have been committed.
    void waitUntilCompleted() const;

private:
    std::shared_ptr<MTLCommandBuffer> buffer_;
};

// Renders image recipes. The work is split into a fixed grid of tiles run on
// the oneTBB workers; each tile evaluates the whole recipe in float, and
// only an 8-bit destination rounds.
class CIContext {
public:
    explicit CIContext(CIContextOptions options = {});

    const CIContextOptions& options() const { return options_; }
    const CGColorSpaceRef& workingColorSpace() const { return working_; }
    const CGColorSpaceRef& outputColorSpace() const { return output_; }

    // The pixels of `bounds` (made whole: floor of the origin, ceiling of the
    // far edges) into bitmap memory, first row the top of `bounds`, in
    // `colorSpace` (none: the output space).
    void render(const CIImage& image, void* bitmap, size_t rowBytes, const CGRect& bounds,
                CIFormat format, const CGColorSpaceRef& colorSpace = nullptr) const;
    // The same into a new buffer with tight rows.
    std::vector<uint8_t> renderBitmap(const CIImage& image, const CGRect& bounds, CIFormat format,
                                      const CGColorSpaceRef& colorSpace = nullptr) const;
    // `fromRect` as a new 8-bit RGBA bitmap with straight alpha in the output
    // space, top row first; nullptr for an empty or infinite rectangle.
    NSBitmapImageRepRef createBitmap(const CIImage& image, const CGRect& fromRect) const;

    // The image's extent as an LZW-compressed TIFF: 8 bits a sample, RGBA with
    // straight alpha, in `colorSpace` (none: the output space) whose profile
    // it embeds, top row first. Nothing for an empty or infinite extent, a
    // format other than RGBA8, or an encoder failure.
    std::optional<std::vector<uint8_t>>
    tiffRepresentation(const CIImage& image, CIFormat format, const CGColorSpaceRef& colorSpace,
                       const CIImageRepresentationOptions& options = {}) const;
    // The image's extent as a JPEG (colour over black where not opaque).
    std::optional<std::vector<uint8_t>>
    jpegRepresentation(const CIImage& image, const CGColorSpaceRef& colorSpace,
                       const CIImageRepresentationOptions& options = {}) const;

    // `fromRect` of the image to the destination, its corner at `atPoint`
    // (y-up, in destination pixels); what falls outside the destination is
    // dropped. A texture destination is encoded into its command buffer and
    // read and written when the buffer runs, with every texture the image
    // reads kept in use until then.
    CIRenderTask startTask(const CIImage& image, const CGRect& fromRect,
                           const CIRenderDestination& destination, CGPoint atPoint) const;

    // Drops the scratch memory kept between renders.
    void clearCaches() const;

    // The memory renders reuse; shared with renders still pending.
    const std::shared_ptr<imaging::ScratchPool>& scratchPool() const { return pool_; }

private:
    imaging::NodeRef inSpace(const CIImage& image, const CGColorSpaceRef& space) const;
    NSBitmapImageRepRef straightBitmap(const CIImage& image, const CGRect& fromRect,
                                       const CGColorSpaceRef& space) const;

    CIContextOptions options_;
    CGColorSpaceRef working_;
    CGColorSpaceRef output_;
    std::shared_ptr<imaging::ScratchPool> pool_;
};

} // namespace velmora
