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
class ZeroTiles;

// One layer of a tile's composite, in tile coordinates. A leaf draws its
// image; a group draws its children over transparency one depth further
// down, then has its visibility and opacity applied like a layer's.
struct CompositeStep {
    imaging::kernels::BlendOp op = imaging::kernels::BlendOp::sourceOver;
    // The op with its inputs swapped (the eraser).
    bool inverted = false;
    imaging::NodeRef image; // leaves only
    size_t leaf = 0;        // leaves' order, numbered when encoded
    std::vector<CompositeStep> children;
    // A first child whose 8-bit texture holds the depth's state after the
    // siblings it stands for: copied as it is, not blended, so what follows
    // gives the same bits as after those siblings themselves.
    bool seed = false;
    bool visible = true;
    float opacity = 1;

    bool isLeaf() const { return children.empty(); }
    void setKernel(const BlendKernel& kernel);
};

// Composites one tile, one host command a tile. Every step is rounded to 8
// bits at its depth exactly as a render into that depth's intermediate
// texture would be, but block by block in each worker's cache, so a tile's
// layers are read once and only the root's result, at `origin` of the
// destination, reaches memory. The intermediates only bound the tile size.
// With `parts` (tile coordinates, inside the tile), only those rectangles are
// composited, as one host command.
// One tile's composite: the steps in tile coordinates, the tile, and the parts of
// it to composite (tile coordinates; none: all of it).
struct TileComposite {
    CompositeStep root;
    MTLRegion tile;
    std::vector<imaging::PixelRect> parts;
};

// Several tiles as one host command whose blocks are shared out together, so no
// worker waits at the end of each tile. `zeros`, when given, remembers between
// composites where the live stroke's texture is clear.
void encodeTileComposites(std::vector<TileComposite> tiles,
                          const std::vector<std::shared_ptr<MTLTexture>>& intermediates,
                          const std::shared_ptr<MTLTexture>& destination,
                          const std::shared_ptr<imaging::ScratchPool>& scratch,
                          MTLCommandBuffer& commandBuffer,
                          const std::shared_ptr<ZeroTiles>& zeros = nullptr);

void encodeTileComposite(const CompositeStep& root, const MTLRegion& tile,
                         const std::vector<std::shared_ptr<MTLTexture>>& intermediates,
                         const std::shared_ptr<MTLTexture>& destination,
                         const std::shared_ptr<imaging::ScratchPool>& scratch,
                         MTLCommandBuffer& commandBuffer,
                         std::vector<imaging::PixelRect> parts = {});

} // namespace velmora
