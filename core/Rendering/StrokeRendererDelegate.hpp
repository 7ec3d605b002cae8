#pragma once

#include "gpu/MTLCommandBuffer.hpp"
#include "gpu/MTLGeometry.hpp"
#include "gpu/MTLTexture.hpp"
#include "graphics/NSBitmapImageRep.hpp"

#include <memory>
#include <vector>

namespace velmora {

class RasterLayer;
class StrokeRenderer;

// What the stroke renderer tells the one who writes its strokes into the canvas.
// Every call comes on the main thread.
class StrokeRendererDelegate {
public:
    virtual ~StrokeRendererDelegate() = default;

    // A finished stroke is blended into `texture`: encode the copy of `region` into
    // the active raster layer on the command buffer, without committing; the
    // texture differs from the layer only in `tiles`, the parts of the region
    // that held the stroke, so copying those is enough. Returns
    // the layer written to; the stroke's commit names that same layer, whatever is
    // active by then.
    virtual std::shared_ptr<RasterLayer>
    strokeRendererPasteToActiveLayer(StrokeRenderer& renderer,
                                     const std::shared_ptr<MTLTexture>& texture,
                                     const MTLRegion& region, const std::vector<MTLRegion>& tiles,
                                     const std::shared_ptr<MTLCommandBuffer>& commandBuffer) = 0;
    // After the blend's command buffer completed: the stroke's region at `origin`
    // in `layer` (as returned by the paste), before and after it, kept only where
    // the stroke drew: `parts` (relative to `origin`, inside the region) packed one
    // above the other at column 0, the first at the bottom, rows as the layer
    // holds them. The parts cover the tiles of the strokeRendererDidCommitIn
    // call that follows in the same turn, cut at every tile edge.
    virtual void strokeRendererDidCommit(StrokeRenderer& renderer,
                                         const std::shared_ptr<NSBitmapImageRep>& after,
                                         const std::shared_ptr<NSBitmapImageRep>& before,
                                         const MTLOrigin& origin,
                                         const std::vector<MTLRegion>& parts,
                                         const std::shared_ptr<RasterLayer>& layer) = 0;
    // Pixels changed there (the region may be empty).
    virtual void strokeRendererDidDrawIn(StrokeRenderer& renderer, const MTLRegion& region) = 0;
    // After a commit: what shows for `region` changes, but only inside `tiles`,
    // the parts of it that held the stroke. By default the whole region is drawn.
    virtual void strokeRendererDidCommitIn(StrokeRenderer& renderer, const MTLRegion& region,
                                           const std::vector<MTLRegion>& tiles) {
        (void)tiles;
        strokeRendererDidDrawIn(renderer, region);
    }
    // A stroke was taken while none was in progress.
    virtual void strokeRendererDidBeginDrawing(StrokeRenderer& renderer) = 0;
    // The last stroke in progress completed. Comes in the same main-queue turn as
    // that stroke's commit and drawn region, just before them.
    virtual void strokeRendererDidEndDrawing(StrokeRenderer& renderer) = 0;
};

} // namespace velmora
