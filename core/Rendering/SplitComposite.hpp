#pragma once

#include "Rendering/RenderedCanvas.hpp"
#include "Rendering/TileCompositor.hpp"

#include <memory>
#include <vector>

namespace velmora {

// The composite of a canvas split around the one layer an interaction changes
// (moved, or its opacity, visibility or blend mode set): on each group along
// the path to it, what its siblings below make is kept in a texture over a
// region, and so is what the siblings above make when they can be flattened,
// so each step blends a few textures instead of every layer.
//
// Below is exact: it is the group's state before the layer, as the compositor
// leaves it, and continuing from it gives the same bits. Above is flattened
// only when not `exact` and every sibling above goes on by source over (whose
// grouping changes only the rounding); else those siblings stay as they are.
// Main thread only.
class SplitComposite {
public:
    SplitComposite(std::shared_ptr<Layer> layer, const MTLRegion& region, bool exact);

    const std::shared_ptr<Layer>& layer() const { return layer_; }
    const MTLRegion& region() const { return region_; }
    bool exact() const { return exact_; }
    bool isBuilt() const { return built_; }

    // Whether the tree (pruned over the region) has the layer and, around its
    // path, the siblings the kept textures were made from.
    bool matches(const RenderedCanvas::LayerNodeTree& tree) const;
    // Encodes the making of the kept textures from the tree, pruned over the
    // region, into textures of `textureSize`. False when the layer is not in it.
    bool build(const RenderedCanvas::LayerNodeTree& tree, const MTLSize& textureSize,
               const std::vector<std::shared_ptr<MTLTexture>>& intermediates,
               const std::shared_ptr<imaging::ScratchPool>& scratch,
               MTLCommandBuffer& commandBuffer);
    // The tree's steps for a tile inside the region, the kept textures standing
    // in for the siblings they hold. Only once built from a tree it matches.
    CompositeStep step(const RenderedCanvas::LayerNodeTree& tree, const MTLRegion& tile) const;

private:
    struct Level {
        std::vector<std::shared_ptr<Layer>> below, above;
        std::shared_ptr<Layer> path;
        std::shared_ptr<MTLTexture> belowTexture, aboveTexture;
    };
    // The groups from the root to the layer, each with the index of the child
    // on the way; empty when the layer is not in the tree.
    using Path = std::vector<std::pair<const RenderedCanvas::LayerNodeTree*, size_t>>;
    Path pathTo(const RenderedCanvas::LayerNodeTree& tree) const;
    bool flattens(const std::vector<std::shared_ptr<Layer>>& above) const;
    CompositeStep stepAlong(const Path& path, size_t k, const MTLRegion& tile) const;

    std::shared_ptr<Layer> layer_;
    MTLRegion region_;
    bool exact_;
    bool built_ = false;
    std::vector<Level> levels_; // root first
};

} // namespace velmora
