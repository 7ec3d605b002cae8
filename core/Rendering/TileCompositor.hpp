#pragma once

#include "gpu/MTLCommandBuffer.hpp"
#include "gpu/MTLTexture.hpp"
#include "imaging/ImageNode.hpp"
#include "imaging/PixelKernels.hpp"
#include "imaging/TileBuffer.hpp"

#include <memory>
#include <vector>

namespace velmora {

class BlendKernel;

// One layer of a tile's composite, in tile coordinates. A leaf draws its
// image; a group draws its children over transparency one depth further
// down, then has its visibility and opacity applied like a layer's.
struct CompositeStep {
    imaging::kernels::BlendOp op = imaging::kernels::BlendOp::sourceOver;
    // The op with its inputs swapped (the eraser).
    bool inverted = false;
    imaging::NodeRef image; // leaves only
    std::vector<CompositeStep> children;
    bool visible = true;
    float opacity = 1;

    bool isLeaf() const { return children.empty(); }
    void setKernel(const BlendKernel& kernel);
};

// Composites one tile: every step blends into the intermediate texture of its
// depth and is rounded to 8 bits there, as separate renders would; the
// root's result lands in the destination at `origin`. Runs block by block so
// that all of a block's steps work in cache, one host command a tile.
void encodeTileComposite(const CompositeStep& root, const MTLRegion& tile,
                         const std::vector<std::shared_ptr<MTLTexture>>& intermediates,
                         const std::shared_ptr<MTLTexture>& destination,
                         const std::shared_ptr<imaging::ScratchPool>& scratch,
                         MTLCommandBuffer& commandBuffer);

} // namespace velmora
