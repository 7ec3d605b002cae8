#pragma once

#include "gpu/MTLCommandBuffer.hpp"
#include "gpu/MTLGeometry.hpp"
#include "gpu/MTLTexture.hpp"
#include "graphics/NSBitmapImageRep.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace velmora {

// The 64 × 64 tiles of the canvas that hold pixels of the stroke being drawn, so
// that finishing it, and its undo snapshots, read and write those tiles only.
// Main thread only.
class StrokeTiles {
public:
    static constexpr int64_t tileSide = 64;

    explicit StrokeTiles(const MTLSize& canvasSize);

    // The tiles the region (clipped to the canvas) meets now hold stroke pixels.
    void mark(const MTLRegion& region);
    bool isMarked(int64_t column, int64_t row) const;
    // The marked tiles cut to `region`, as runs along their rows.
    std::vector<MTLRegion> markedRuns(const MTLRegion& region) const;
    void clear();

    // The runs cut at every tile edge: packed one above the other, pieces at most a
    // tile wide make a narrow picture whose every page is used.
    static std::vector<MTLRegion> tileByTile(const std::vector<MTLRegion>& runs);
    // The size of the picture that holds `runs` packed one above the other at
    // column 0, the first at the bottom, rows as given (at least 1 × 1).
    static MTLSize packedSize(const std::vector<MTLRegion>& runs);

    // Encodes the finish of the stroke, touching only `runs` (markedRuns of the
    // stroke's region, inside the canvas): `before` (packedSize(runs)) gets the
    // destination's pixels there, packed; the stroke (straight RGBA floats) is
    // blended into the destination by source-over, or by the eraser when
    // `erasing`, rounding exactly as the image graph does, and cleared; `after`
    // gets the result, packed as `before`. The marks go with the work; the tiles
    // are clear again for the next stroke.
    void encodeFinish(const std::shared_ptr<MTLTexture>& stroke,
                      const std::shared_ptr<MTLTexture>& destination,
                      const std::vector<MTLRegion>& runs, bool erasing,
                      const std::shared_ptr<NSBitmapImageRep>& before,
                      const std::shared_ptr<NSBitmapImageRep>& after,
                      MTLCommandBuffer& commandBuffer);

private:
    int64_t columns_, rows_;
    std::vector<uint8_t> marks_;
    // The tiles marked last (columns c0..c1, rows r0..r1): the dots of a stroke
    // mostly fall in the tiles of the one before.
    struct Span {
        int64_t c0 = 0, c1 = -1, r0 = 0, r1 = -1;
    } last_;
};

} // namespace velmora
