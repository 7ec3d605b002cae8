#pragma once

#include "Canvas/Layer.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Extensions/TreeNode.hpp"
#include "Rendering/RendererComputable.hpp"
#include "gpu/MTLCommandBuffer.hpp"
#include "gpu/MTLTexture.hpp"
#include "graphics/BitmapRepresentable.hpp"
#include "imaging/CIImage.hpp"
#include "imaging/TileBuffer.hpp"

#include <memory>
#include <optional>
#include <ostream>
#include <utility>
#include <vector>

namespace velmora {

struct CompositeStep;
class ReducedCanvas;
class SplitComposite;
class ZeroTiles;

// The whole layered canvas flattened into one texture over white, kept up to
// date region by region: callers mark regions dirty and the next compute
// pass re-composites only those, in tiles of at most 2048 × 2048 pixels.
// Main thread only.
class RenderedCanvas : public RendererComputable, public BitmapRepresentable {
public:
    // A layer's picture for the dirty region, its blend mode not yet applied.
    struct LayerNode {
        CIImage image;
        std::shared_ptr<Layer> layer;
        friend bool operator==(const LayerNode& a, const LayerNode& b) {
            return a.image == b.image && a.layer == b.layer;
        }
        // The layer's description, as the tree prints it.
        friend std::ostream& operator<<(std::ostream& os, const LayerNode& node) {
            return os << *node.layer;
        }
    };
    using LayerNodeTree = TreeNode<LayerNode>;

    static constexpr MTLSize tileSize{2048, 2048, 1};
    // A dirty area above this is composited over several frames while paced.
    static constexpr int64_t pacedArea = int64_t(2048) * 2048;
    // Pixels composited at full resolution per paced frame beyond the visible ones.
    static constexpr int64_t pacedBudget = int64_t(1536) * 1536;
    // The side of the blocks a paced composite is cut into.
    static constexpr int64_t pacedBlock = 256;

    // How frames may spread a large composite: the canvas region the view shows,
    // and the level whose halvings still give a source pixel per device pixel.
    struct Pacing {
        MTLRegion visible;
        int level = 0;
        int64_t area = pacedArea, budget = pacedBudget, block = pacedBlock;
    };

    // The whole canvas is dirty; nothing is composited yet.
    explicit RenderedCanvas(const std::shared_ptr<LayeredCanvas>& canvas);
    ~RenderedCanvas() override;
    RenderedCanvas(const RenderedCanvas&) = delete;
    RenderedCanvas& operator=(const RenderedCanvas&) = delete;

    // "Rendered Canvas output": rgba8Unorm, straight alpha, the canvas's size.
    const std::shared_ptr<MTLTexture>& texture() const { return texture_; }
    const MTLRegion& dirtyRect() const { return dirtyRect_; }
    const std::vector<std::shared_ptr<MTLTexture>>& intermediateTextures() const {
        return intermediateTextures_;
    }

    // The part of the region inside the canvas becomes dirty. Requests no frame.
    virtual void needsUpdate(const MTLRegion& region);
    // The same, for a change of `changed` alone (moved, or its opacity,
    // visibility or blend mode set): while paced, frames keep what lies below
    // and above it over the visible part until a mark names anything else.
    void needsUpdate(const MTLRegion& region, const std::shared_ptr<Layer>& changed);
    // Each part inside the canvas becomes dirty on its own: the next compositing
    // redoes them without the pixels between them. Requests no frame.
    void needsUpdateIn(const std::vector<MTLRegion>& parts);
    // What needsUpdateIn marked and the next compositing still has to redo.
    const std::vector<MTLRegion>& dirtyParts() const { return dirtyParts_; }
    // Encodes the compositing of the dirty region; neither commits nor waits.
    // While paced, a dirty area above the pacing's area is done in blocks,
    // visible ones first, its budget of pixels more in frames that no new mark
    // preceded, and the rest waits for the next frames; newer marks join the
    // rest and reorder it. At level 0 every visible block is done at once; above
    // it a reduced picture of the visible part is composited instead, to be
    // shown until the canvas has caught up.
    void compute(const std::shared_ptr<MTLCommandBuffer>& commandBuffer) override;
    // None: every compute does the whole dirty area, as asBitmap always does.
    void setPacing(std::optional<Pacing> pacing) { pacing_ = pacing; }
    const std::optional<Pacing>& pacing() const { return pacing_; }
    // Nothing is left to composite at full resolution.
    bool isCaughtUp() const { return isEmpty(dirtyRect_) && dirtyParts_.empty(); }
    // Whether the last compute showed a new step, leaving the catching up for later.
    bool computedAStep() const { return computedAStep_; }
    // The texture a frame shows and its level: the reduced picture while a
    // paced composite above level 0 is catching up, else texture().
    std::pair<std::shared_ptr<MTLTexture>, int> shownTexture() const;
    // Composites only the dirty area inside `within` (texture pixels); the rest
    // stays dirty.
    void computeWithin(const MTLRegion& within,
                       const std::shared_ptr<MTLCommandBuffer>& commandBuffer);
    // The flattened canvas, top row first, after every piece of GPU work
    // committed before the call, and the dirty region, has run.
    std::shared_ptr<NSBitmapImageRep> asBitmap() override;

    // The picture of the active raster layer, visibility and opacity applied.
    virtual CIImage activeLayerImage(const Layer& layer, const MTLRegion& region) const;
    // A layer's picture over the region of this texture, before its visibility
    // and opacity: its own pixels at full resolution.
    virtual CIImage layerImage(const Layer& layer, const MTLRegion& region) const;

    // Drops empty leaves (except the active layer and `kept`) and groups left
    // without children.
    static LayerNodeTree::Pointer prune(const LayerNodeTree::Pointer& node,
                                        const std::shared_ptr<Layer>& activeLayer,
                                        const std::shared_ptr<Layer>& kept = nullptr);
    // The steps that composite a node's subtree over a tile.
    static CompositeStep makeStep(const LayerNodeTree& node, const MTLRegion& tile);
    // The split of the composite kept for the layer being changed, if any.
    const SplitComposite* splitComposite() const { return split_.get(); }
    // The reduced picture frames show while catching up, once made.
    const std::shared_ptr<ReducedCanvas>& preview() const { return preview_; }

protected:
    // A texture of `size` over `canvas` (a reduced one), all dirty.
    RenderedCanvas(const std::shared_ptr<LayeredCanvas>& canvas, const MTLSize& size);
    // The buffer the composite being built is encoded into, for the layers'
    // pictures that need commands of their own first.
    MTLCommandBuffer* encodingBuffer() const { return encodingBuffer_; }

private:
    void computeAll(const std::shared_ptr<MTLCommandBuffer>& commandBuffer);
    void computePaced(const Pacing& pacing, const std::shared_ptr<MTLCommandBuffer>& commandBuffer);
    int64_t dirtyArea() const;
    void renderRegion(const MTLRegion& region, const std::shared_ptr<MTLTexture>& destination,
                      const std::shared_ptr<MTLCommandBuffer>& commandBuffer);
    // The dirty parts outside `done`, one command per tile of the canvas's grid.
    void renderParts(const MTLRegion& done, const std::shared_ptr<MTLCommandBuffer>& commandBuffer);
    // The pruned tree of the canvas's layers for the region; none when nothing is left.
    LayerNodeTree::Pointer prunedTree(const LayeredCanvas& canvas, const MTLRegion& region,
                                      const std::shared_ptr<Layer>& kept = nullptr) const;
    void mark(const MTLRegion& region, const std::shared_ptr<Layer>& changed);
    // The tree over the split's region when the split serves `region`, its
    // kept textures made or remade into `commandBuffer` as needed; else none.
    LayerNodeTree::Pointer splitTree(const LayeredCanvas& canvas, const MTLRegion& region,
                                     MTLCommandBuffer& commandBuffer);
    std::optional<LayerNode> makeLayerNode(const std::shared_ptr<Layer>& layer,
                                           const std::shared_ptr<Layer>& activeLayer,
                                           const MTLRegion& region) const;
    void updateIntermediateTextures(const LayerTree& tree);
    void renderTiles(const LayerNodeTree& tree, const MTLRegion& region,
                     const std::shared_ptr<MTLTexture>& destination,
                     const std::shared_ptr<MTLCommandBuffer>& commandBuffer);

    std::shared_ptr<MTLTexture> texture_;
    MTLRegion dirtyRect_;
    std::vector<MTLRegion> dirtyParts_;
    std::weak_ptr<LayeredCanvas> canvas_;
    std::vector<std::shared_ptr<MTLTexture>> intermediateTextures_;
    std::shared_ptr<imaging::ScratchPool> scratch_;
    // Where the live stroke's texture was clear when last composited.
    std::shared_ptr<ZeroTiles> zeroTiles_;
    std::optional<Pacing> pacing_;
    // The reduced picture of the pacing's level, marked with every change.
    std::shared_ptr<ReducedCanvas> preview_;
    MTLCommandBuffer* encodingBuffer_ = nullptr;
    bool markedSinceCompute_ = false;
    bool computedAStep_ = false;
    // The one layer every mark since the split was made named.
    std::weak_ptr<Layer> focus_;
    std::unique_ptr<SplitComposite> split_;
    // Where this compute may use the split (none: nowhere), and whether it
    // must give the same bits as compositing every layer.
    MTLRegion splitRegion_;
    bool splitExact_ = true;
    LayerNodeTree::Pointer splitTree_;
};

} // namespace velmora
