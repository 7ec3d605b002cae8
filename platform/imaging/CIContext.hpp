#pragma once

#include "graphics/CGGeometry.hpp"
#include "imaging/CIFormat.hpp"
#include "imaging/CIImage.hpp"
#include "imaging/CIRenderDestination.hpp"
#include "imaging/TileBuffer.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace velmora {

struct CIContextOptions {
    // Whether bitmaps rendered by `render` hold premultiplied colour.
    bool outputPremultiplied = true;
};

// A started render. Bitmap renders finish before `startTask` returns.
class CIRenderTask {
public:
    void waitUntilCompleted() const {}
};

// Renders image recipes. The work is split into a fixed grid of tiles run on
// the oneTBB workers; each tile evaluates the whole recipe in float, and
// only an 8-bit destination rounds.
class CIContext {
public:
    explicit CIContext(CIContextOptions options = {});

    const CIContextOptions& options() const { return options_; }

    // The pixels of `bounds` (made whole: floor of the origin, ceiling of the
    // far edges) into bitmap memory, first row the top of `bounds`.
    void render(const CIImage& image, void* bitmap, size_t rowBytes, const CGRect& bounds,
                CIFormat format) const;
    // The same into a new buffer with tight rows.
    std::vector<uint8_t> renderBitmap(const CIImage& image, const CGRect& bounds,
                                      CIFormat format) const;

    // `fromRect` of the image to the destination, its corner at `atPoint`
    // (y-up, in destination pixels); what falls outside the destination is
    // dropped.
    CIRenderTask startTask(const CIImage& image, const CGRect& fromRect,
                           const CIRenderDestination& destination, CGPoint atPoint) const;

    // Drops the scratch memory kept between renders.
    void clearCaches() const;

    // The memory renders reuse; shared with renders still running.
    const std::shared_ptr<imaging::ScratchPool>& scratchPool() const { return pool_; }

private:
    CIContextOptions options_;
    std::shared_ptr<imaging::ScratchPool> pool_;
};

} // namespace velmora
