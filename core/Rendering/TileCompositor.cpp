#include "Rendering/TileCompositor.hpp"

#include "Rendering/BlendKernel.hpp"
#include "Rendering/ZeroTiles.hpp"
#include "foundation/FatalError.hpp"
#include "gpu/cpu/Workers.hpp"
#include "imaging/TexturePixelSource.hpp"
#include "imaging/TileRenderer.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace velmora {

using imaging::PixelRect;
using imaging::ScratchArena;
using imaging::ScratchScope;
using imaging::TileBuffer;
namespace kernels = imaging::kernels;

void CompositeStep::setKernel(const BlendKernel& kernel) {
    if (const auto* builtIn = dynamic_cast<const BuiltInBlendKernel*>(&kernel)) {
        op = builtIn->kernel()->op();
        inverted = false;
    } else if (const auto* swapped = dynamic_cast<const InvertedBlendKernel*>(&kernel)) {
        op = swapped->subkernel()->op();
        inverted = true;
    } else {
        fatalError("Internal inconcistency");
    }
}

namespace {

// 8-bit straight pixels of a texture, addressed in tile coordinates.
struct Plane {
    imaging::MutablePixelStorage storage;
    int64_t x = 0, y = 0;

    std::byte* at(int64_t px, int64_t py) const {
        return storage.base + size_t(py + y) * storage.bytesPerRow + size_t(px + x) * 4;
    }
};

// A leaf whose image is an 8-bit texture moved by whole pixels: blended
// row by row straight from its memory.
struct DirectLeaf {
    imaging::PixelStorage storage;
    PixelRect extent;
    bool premultiply = false;
    float scale = 1.0f;

    const std::byte* at(int64_t x, int64_t y) const {
        const int64_t r = y - extent.y;
        const int64_t row = storage.topRowFirst ? storage.height - 1 - r : r;
        return storage.base + size_t(row) * storage.bytesPerRow + size_t(x - extent.x) * 4;
    }
};

std::optional<DirectLeaf> directLeaf(const imaging::ImageNode& node) {
    const auto direct = node.directSource();
    if (!direct) {
        return std::nullopt;
    }
    const imaging::PixelStorage s = direct->source->storage();
    if (s.base == nullptr || s.format != imaging::StorageFormat::rgba8) {
        return std::nullopt;
    }
    return DirectLeaf{
        s, {direct->dx, direct->dy, s.width, s.height}, direct->premultiply, direct->scale};
}

// The live picture of the active layer: a float stroke texture painted over
// (or erasing) the layer's 8-bit pixels. Where the stroke holds only zero bits
// either blend gives the layer's pixels unchanged (S + D·1, D·(1 − 0)), so
// those blocks read the layer directly, as any other layer.
struct StrokedLeaf {
    DirectLeaf layer;
    const imaging::ImageNode* layerNode = nullptr;
    imaging::PixelStorage stroke;
    PixelRect strokeExtent;
    const imaging::PixelSource* source = nullptr;
    // The stroke texture's tiles known to be clear, when prepared for it.
    const ZeroTiles* zeros = nullptr;
    // The part of the extent its writer may have painted: the rest is not read,
    // so a stroke texture's untouched memory stays unallocated.
    PixelRect strokePainted;

    bool strokeEmptyIn(const PixelRect& r) const {
        const PixelRect inside = imaging::intersection(r, strokePainted);
        if (inside.isEmpty() || stroke.base == nullptr) {
            return true;
        }
        if (zeros != nullptr &&
            zeros->allZeroIn({inside.x - strokeExtent.x, inside.y - strokeExtent.y, inside.width,
                              inside.height})) {
            return true;
        }
        for (int64_t y = inside.y; y < inside.maxY(); ++y) {
            const int64_t ry = y - strokeExtent.y;
            const int64_t row = stroke.topRowFirst ? stroke.height - 1 - ry : ry;
            const std::byte* p = stroke.base + size_t(row) * stroke.bytesPerRow +
                                 size_t(inside.x - strokeExtent.x) * 16;
            uint64_t bits = 0;
            for (size_t i = 0; i < size_t(inside.width) * 2; ++i) {
                uint64_t w;
                std::memcpy(&w, p + 8 * i, 8);
                bits |= w;
            }
            if (bits != 0) {
                return false;
            }
        }
        return true;
    }
};

std::optional<StrokedLeaf> strokedLeaf(const CompositeStep& step) {
    // The layer's opacity, applied over the blend, scales the layer alone
    // where the stroke is clear.
    const imaging::ImageNode* image = step.image.get();
    float opacity = 1.0f;
    if (const auto scaled = image->scaledInput()) {
        image = scaled->image;
        opacity = scaled->scale;
    }
    const auto inputs = image->blendInputs();
    if (!inputs) {
        return std::nullopt;
    }
    using kernels::BlendOp;
    const imaging::ImageNode* strokeNode = inputs->op == BlendOp::sourceOver  ? inputs->foreground
                                           : inputs->op == BlendOp::sourceOut ? inputs->background
                                                                              : nullptr;
    const imaging::ImageNode* layerNode =
        strokeNode == inputs->foreground ? inputs->background : inputs->foreground;
    if (strokeNode == nullptr) {
        return std::nullopt;
    }
    auto layer = directLeaf(*layerNode);
    const auto stroke = strokeNode->directSource();
    if (!layer || !stroke || layer->scale != 1.0f) {
        return std::nullopt;
    }
    layer->scale = opacity;
    const imaging::PixelStorage s = stroke->source->storage();
    if (s.format != imaging::StorageFormat::rgba32Float) {
        return std::nullopt;
    }
    const PixelRect extent{stroke->dx, stroke->dy, s.width, s.height};
    PixelRect painted = extent;
    if (const auto bounds = stroke->source->nonZeroBounds()) {
        const int64_t y = s.topRowFirst ? s.height - bounds->maxY() : bounds->y;
        painted = imaging::intersection(
            extent, {extent.x + bounds->x, extent.y + y, bounds->width, bounds->height});
    }
    return StrokedLeaf{*layer, layerNode, s, extent, stroke->source, nullptr, painted};
}

// A leaf of one colour (the canvas's filled layer) whose premultiplied value
// is exactly what some straight 8-bit pixel loads as: blended as rows of that
// pixel, the same bits as the float road's fill.
struct ConstantLeaf {
    uint32_t pixel = 0;
    PixelRect extent;
};

std::optional<ConstantLeaf> constantLeaf(const imaging::ImageNode& node) {
    const auto fill = node.constantFill();
    if (!fill) {
        return std::nullopt;
    }
    const auto byteFor = [](float wanted, float alpha) -> std::optional<uint32_t> {
        for (uint32_t v = 0; v < 256; ++v) {
            if (kernels::unorm8ToFloat(uint8_t(v)) * alpha == wanted) {
                return v;
            }
        }
        return std::nullopt;
    };
    const auto a = byteFor(fill->rgba[3], 1.0f);
    if (!a || *a == 0) {
        return std::nullopt;
    }
    uint32_t pixel = *a << 24;
    for (int c = 0; c < 3; ++c) {
        const auto v = byteFor(fill->rgba[c], kernels::unorm8ToFloat(uint8_t(*a)));
        if (!v) {
            return std::nullopt;
        }
        pixel |= *v << (8 * c);
    }
    return ConstantLeaf{pixel, fill->extent};
}

struct Leaves {
    std::vector<std::optional<DirectLeaf>> direct;
    std::vector<std::optional<StrokedLeaf>> stroked;
    std::vector<std::optional<ConstantLeaf>> constant;
};

void findDirectLeaves(const CompositeStep& step, Leaves& out) {
    if (step.isLeaf()) {
        precondition(step.leaf == out.direct.size(), "Leaves out of order");
        out.direct.push_back(directLeaf(*step.image));
        out.stroked.push_back(out.direct.back() ? std::nullopt : strokedLeaf(step));
        out.constant.push_back(out.direct.back() || out.stroked.back() ? std::nullopt
                                                                       : constantLeaf(*step.image));
        return;
    }
    for (const auto& child : step.children) {
        findDirectLeaves(child, out);
    }
}

class TileJob {
public:
    TileJob(const CompositeStep& root, size_t depths, Plane destination, bool stream, Leaves leaves)
        : root_(root), depths_(depths), destination_(destination), stream_(stream),
          leaves_(std::move(leaves)) {}

    void run(const PixelRect& r, ScratchArena& arena) const {
        ScratchScope scope(arena);
        // Each depth's 8-bit pixels of this block stay in the worker's cache
        // from one step to the next instead of travelling through memory. Two
        // buffers a depth, so a step never writes the row it reads.
        Block block{std::vector<std::array<Plane, 2>>(depths_), std::vector<int>(depths_, 0), r};
        for (size_t d = 1; d < depths_; ++d) {
            for (Plane& plane : block.planes[d]) {
                const TileBuffer bytes = arena.allocate(r.width, r.height);
                plane.storage.base = reinterpret_cast<std::byte*>(bytes.planes[0]);
                plane.storage.bytesPerRow = size_t(r.width) * 4;
                plane.x = -r.x;
                plane.y = -r.y;
            }
        }
        if (root_.visible && root_.opacity == 1) {
            // Reading the root's 8-bit result and writing it straight again
            // changes no bits but colour under zero alpha: one copy.
            composeChildren(root_, 1, block, arena);
            const Plane& result = block.below(1);
            for (int64_t j = 0; j < r.height; ++j) {
                kernels::restoreStraightRgba8(result.at(r.x, r.y + j), size_t(r.width),
                                              destination_.at(r.x, r.y + j), stream_);
            }
            return;
        }
        const TileBuffer result = arena.allocate(r.width, r.height);
        groupImage(root_, 1, block, result, arena);
        store(result, destination_, r, stream_);
    }

private:
    struct Block {
        std::vector<std::array<Plane, 2>> planes;
        std::vector<int> current;
        PixelRect r;

        const Plane& below(size_t depth) const {
            precondition(depth < planes.size(), "Intermediate depth out of range");
            return planes[depth][current[depth]];
        }
        const Plane& next(size_t depth) const { return planes[depth][1 - current[depth]]; }
        void flip(size_t depth) { current[depth] = 1 - current[depth]; }
    };

    static void load(const Plane& plane, const PixelRect& r, const TileBuffer& out) {
        for (int64_t j = 0; j < r.height; ++j) {
            kernels::loadRow(plane.at(r.x, r.y + j), imaging::StorageFormat::rgba8, size_t(r.width),
                             true, out.row(0, j), out.row(1, j), out.row(2, j), out.row(3, j));
        }
    }

    static void store(const TileBuffer& t, const Plane& plane, const PixelRect& r,
                      bool stream = false) {
        for (int64_t j = 0; j < r.height; ++j) {
            kernels::storeRow(t.row(0, j), t.row(1, j), t.row(2, j), t.row(3, j), size_t(r.width),
                              imaging::StorageFormat::rgba8, imaging::StoredAlpha::unpremultiplied,
                              plane.at(r.x, r.y + j), stream);
        }
    }

    // The group's children composited at `depth`, read back premultiplied,
    // with the group's visibility and opacity applied.
    void groupImage(const CompositeStep& group, size_t depth, Block& b, const TileBuffer& out,
                    ScratchArena& arena) const {
        composeChildren(group, depth, b, arena);
        if (!group.visible) {
            kernels::clear(out);
            return;
        }
        load(b.below(depth), b.r, out);
        if (group.opacity != 1) {
            kernels::scale(out, group.opacity);
        }
    }

    void composeChildren(const CompositeStep& group, size_t depth, Block& b,
                         ScratchArena& arena) const {
        for (size_t i = 0; i < group.children.size(); ++i) {
            blendStep(group.children[i], depth, i == 0, b, arena);
        }
    }

    // One row pass over two 8-bit inputs, the same bits as the float road.
    void blendRows(const CompositeStep& step, size_t depth, Block& b, bool premultiplyAbove,
                   float scale, const std::function<const std::byte*(int64_t)>& above) const {
        const PixelRect& r = b.r;
        const Plane &below = b.below(depth), &out = b.next(depth);
        for (int64_t j = 0; j < r.height; ++j) {
            const int64_t y = r.y + j;
            const kernels::RowInput a{above(y), premultiplyAbove, scale};
            const kernels::RowInput d{below.at(r.x, y), true, 1.0f};
            kernels::blendRowRgba8(step.op, step.inverted ? d : a, step.inverted ? a : d,
                                   size_t(r.width), imaging::StoredAlpha::unpremultiplied,
                                   out.at(r.x, y));
        }
        b.flip(depth);
    }

    // The leaf's 8-bit pixels when what it shows over `r` can be read straight
    // from memory, where it has any.
    const DirectLeaf* directIn(const CompositeStep& step, const PixelRect& r) const {
        if (const auto& direct = leaves_.direct[step.leaf]) {
            return &*direct;
        }
        if (const auto& stroked = leaves_.stroked[step.leaf];
            stroked && stroked->strokeEmptyIn(r)) {
            return &stroked->layer;
        }
        return nullptr;
    }

    // The same, only where they cover all of `r`.
    const DirectLeaf* directOver(const CompositeStep& step, const PixelRect& r) const {
        const DirectLeaf* leaf = directIn(step, r);
        return leaf && imaging::intersection(r, leaf->extent) == r ? leaf : nullptr;
    }

    // Blending transparency gives back what lies below, bit for bit, in every
    // mode of a layer (but for colour under zero alpha, which nothing reads);
    // source out unswapped clears it.
    static bool keepsBelowWhereEmpty(const CompositeStep& step) {
        return step.op != kernels::BlendOp::sourceOut || step.inverted;
    }

    // A leaf read straight from memory over part of the block: blended there,
    // what lies below copied elsewhere.
    void blendPart(const CompositeStep& step, size_t depth, Block& b, const DirectLeaf& leaf,
                   const PixelRect& in) const {
        const PixelRect& r = b.r;
        const Plane &below = b.below(depth), &out = b.next(depth);
        const auto keep = [&](int64_t x0, int64_t x1, int64_t y) {
            if (x1 > x0) {
                std::memcpy(out.at(x0, y), below.at(x0, y), size_t(x1 - x0) * 4);
            }
        };
        for (int64_t y = r.y; y < r.maxY(); ++y) {
            if (y < in.y || y >= in.maxY()) {
                keep(r.x, r.maxX(), y);
                continue;
            }
            keep(r.x, in.x, y);
            const kernels::RowInput a{leaf.at(in.x, y), leaf.premultiply, leaf.scale};
            const kernels::RowInput d{below.at(in.x, y), true, 1.0f};
            kernels::blendRowRgba8(step.op, step.inverted ? d : a, step.inverted ? a : d,
                                   size_t(in.width), imaging::StoredAlpha::unpremultiplied,
                                   out.at(in.x, y));
            keep(in.maxX(), r.maxX(), y);
        }
        b.flip(depth);
    }

    // The step over what lies below it at `depth` (transparency for the
    // first), rounded to 8 bits at that depth.
    void blendStep(const CompositeStep& step, size_t depth, bool first, Block& b,
                   ScratchArena& arena) const {
        const PixelRect& r = b.r;
        if (first && step.seed) {
            const DirectLeaf* leaf = step.isLeaf() ? directOver(step, r) : nullptr;
            precondition(leaf != nullptr && !leaf->premultiply,
                         "A seed must be a straight 8-bit texture over its blocks");
            const Plane& below = b.below(depth);
            for (int64_t j = 0; j < r.height; ++j) {
                std::memcpy(below.at(r.x, r.y + j), leaf->at(r.x, r.y + j), size_t(r.width) * 4);
            }
            return;
        }
        if (first) {
            // Zero bytes read as the transparent start, so the first step takes
            // the same one-pass roads as the others.
            const Plane& below = b.below(depth);
            for (int64_t j = 0; j < r.height; ++j) {
                std::memset(below.at(r.x, r.y + j), 0, size_t(r.width) * 4);
            }
        }
        if (step.isLeaf() && keepsBelowWhereEmpty(step)) {
            if (imaging::intersection(r, step.image->pixelExtent()).isEmpty()) {
                return; // nothing of the layer reaches the block
            }
            if (const DirectLeaf* leaf = directIn(step, r)) {
                const PixelRect in = imaging::intersection(r, leaf->extent);
                if (!in.isEmpty() && in != r) {
                    blendPart(step, depth, b, *leaf, in);
                    return;
                }
            }
        }
        if (const DirectLeaf* direct = step.isLeaf() ? directOver(step, r) : nullptr) {
            const DirectLeaf& leaf = *direct;
            blendRows(step, depth, b, leaf.premultiply, leaf.scale,
                      [&](int64_t y) { return leaf.at(r.x, y); });
            return;
        }
        if (const auto& fill = step.isLeaf() ? leaves_.constant[step.leaf] : std::nullopt;
            fill && imaging::intersection(r, fill->extent) == r) {
            ScratchScope scope(arena);
            auto* row = reinterpret_cast<std::byte*>(arena.allocate(r.width, 1).planes[0]);
            for (int64_t x = 0; x < r.width; ++x) {
                std::memcpy(row + 4 * x, &fill->pixel, 4);
            }
            blendRows(step, depth, b, true, 1.0f, [row](int64_t) { return row; });
            return;
        }
        if (!step.isLeaf() && step.visible) {
            composeChildren(step, depth + 1, b, arena);
            const Plane& group = b.below(depth + 1);
            blendRows(step, depth, b, true, step.opacity,
                      [&](int64_t y) { return group.at(r.x, y); });
            return;
        }
        ScratchScope scope(arena);
        const TileBuffer below = arena.allocate(r.width, r.height);
        const TileBuffer above = arena.allocate(r.width, r.height);
        if (step.isLeaf()) {
            // A block the stroke has not reached, partly outside the layer: the
            // layer alone, as in directOver.
            const auto& stroked = leaves_.stroked[step.leaf];
            const imaging::ImageNode& image =
                stroked && stroked->layer.scale == 1.0f && stroked->strokeEmptyIn(r)
                    ? *stroked->layerNode
                    : *step.image;
            image.render(r, above, arena);
        } else {
            groupImage(step, depth + 1, b, above, arena);
        }
        load(b.below(depth), r, below);
        const TileBuffer& result = step.inverted ? above : below;
        if (step.inverted) {
            kernels::blend(step.op, below, above);
        } else {
            kernels::blend(step.op, above, below);
        }
        store(result, b.next(depth), r);
        b.flip(depth);
    }

    const CompositeStep& root_;
    size_t depths_;
    Plane destination_;
    bool stream_;
    Leaves leaves_;
};

void numberLeaves(CompositeStep& step, size_t& next) {
    if (step.isLeaf()) {
        step.leaf = next++;
        return;
    }
    for (auto& child : step.children) {
        numberLeaves(child, next);
    }
}

void collect(const CompositeStep& step, std::vector<std::shared_ptr<MTLResource>>& out) {
    if (step.image) {
        step.image->collectResources(out);
    }
    for (const auto& child : step.children) {
        collect(child, out);
    }
}

// The destination, of which only `tile` is written.
Plane planeOf(MTLTexture& texture, const MTLRegion& tile) {
    precondition(texture.pixelFormat() == MTLPixelFormat::rgba8Unorm,
                 "Compositing needs rgba8Unorm textures");
    return {imaging::textureStorage(texture, imaging::StorageFormat::rgba8,
                                    imaging::StoredAlpha::unpremultiplied, tile),
            tile.origin.x, tile.origin.y};
}

} // namespace

void encodeTileComposite(const CompositeStep& root, const MTLRegion& tile,
                         const std::vector<std::shared_ptr<MTLTexture>>& intermediates,
                         const std::shared_ptr<MTLTexture>& destination,
                         const std::shared_ptr<imaging::ScratchPool>& scratch,
                         MTLCommandBuffer& commandBuffer, std::vector<PixelRect> parts) {
    std::vector<TileComposite> tiles;
    tiles.push_back({root, tile, std::move(parts)});
    encodeTileComposites(std::move(tiles), intermediates, destination, scratch, commandBuffer);
}

namespace {

// One block of a tile's part, in tile coordinates.
struct BlockRef {
    size_t job;
    PixelRect r;
};

// Blocks of each part on a grid fixed by the part alone, so any number of workers
// gives the same bits. A narrow part takes taller blocks of the same area: a
// block's set-up costs as much as a row of a wide one. Across tiles the blocks go
// by canvas row, so a worker reads each layer's rows on from where it left them
// and what the blends read ahead is its own next block.
std::vector<BlockRef> blocksOf(const std::vector<TileComposite>& tiles) {
    constexpr int64_t blockArea = imaging::renderTileWidth * imaging::renderTileHeight;
    std::vector<BlockRef> blocks;
    for (size_t k = 0; k < tiles.size(); ++k) {
        for (const PixelRect& part : tiles[k].parts) {
            const int64_t bw = std::min(part.width, imaging::renderTileWidth);
            const int64_t bh = std::max(imaging::renderTileHeight, blockArea / bw);
            for (int64_t y = 0; y < part.height; y += bh) {
                for (int64_t x = 0; x < part.width; x += bw) {
                    blocks.push_back({k,
                                      {part.x + x, part.y + y, std::min(bw, part.width - x),
                                       std::min(bh, part.height - y)}});
                }
            }
        }
    }
    if (tiles.size() < 2) {
        return blocks;
    }
    // A stable counting sort by the canvas row a block starts on.
    const auto rowOf = [&](const BlockRef& b) { return tiles[b.job].tile.origin.y + b.r.y; };
    int64_t low = INT64_MAX, high = INT64_MIN;
    for (const BlockRef& b : blocks) {
        low = std::min(low, rowOf(b));
        high = std::max(high, rowOf(b));
    }
    std::vector<size_t> starts(size_t(high - low) + 2, 0);
    for (const BlockRef& b : blocks) {
        ++starts[size_t(rowOf(b) - low) + 1];
    }
    for (size_t i = 1; i < starts.size(); ++i) {
        starts[i] += starts[i - 1];
    }
    std::vector<BlockRef> sorted(blocks.size());
    for (const BlockRef& b : blocks) {
        sorted[starts[size_t(rowOf(b) - low)]++] = b;
    }
    return sorted;
}

// Brings `zeros` up to the stroke texture the tiles read, if any, over the parts
// they composite, and hands it to the leaves that read that texture.
void prepareZeroTiles(ZeroTiles& zeros, const std::vector<TileComposite>& tiles,
                      std::vector<Leaves>& leaves) {
    std::shared_ptr<MTLTexture> texture;
    imaging::PixelStorage storage;
    std::vector<PixelRect> areas;
    for (size_t k = 0; k < tiles.size(); ++k) {
        for (const auto& stroked : leaves[k].stroked) {
            if (!stroked || stroked->source == nullptr) {
                continue;
            }
            auto t = std::dynamic_pointer_cast<MTLTexture>(stroked->source->resource());
            if (!t || (texture && t != texture)) {
                continue;
            }
            texture = std::move(t);
            storage = stroked->stroke;
            const PixelRect& e = stroked->strokeExtent;
            for (const PixelRect& part : tiles[k].parts) {
                const PixelRect a = imaging::intersection(part, stroked->strokePainted);
                if (!a.isEmpty()) {
                    areas.push_back({a.x - e.x, a.y - e.y, a.width, a.height});
                }
            }
        }
    }
    if (!texture) {
        return;
    }
    zeros.prepare(texture, storage, areas);
    if (!zeros.describes(texture.get())) {
        return;
    }
    for (Leaves& l : leaves) {
        for (auto& stroked : l.stroked) {
            if (stroked && stroked->source != nullptr &&
                stroked->source->resource().get() == texture.get()) {
                stroked->zeros = &zeros;
            }
        }
    }
}

} // namespace

void encodeTileComposites(std::vector<TileComposite> tiles,
                          const std::vector<std::shared_ptr<MTLTexture>>& intermediates,
                          const std::shared_ptr<MTLTexture>& destination,
                          const std::shared_ptr<imaging::ScratchPool>& scratch,
                          MTLCommandBuffer& commandBuffer,
                          const std::shared_ptr<ZeroTiles>& zeros) {
    std::vector<std::shared_ptr<MTLResource>> resources(intermediates.begin(), intermediates.end());
    resources.push_back(destination);
    for (TileComposite& t : tiles) {
        const MTLRegion& tile = t.tile;
        for (const auto& texture : intermediates) {
            precondition(texture->width() >= tile.size.width &&
                             texture->height() >= tile.size.height,
                         "Intermediate texture smaller than a tile");
        }
        precondition(tile.origin.x >= 0 && tile.origin.y >= 0 &&
                         tile.origin.x + tile.size.width <= destination->width() &&
                         tile.origin.y + tile.size.height <= destination->height(),
                     "Tile outside the destination");
        const PixelRect whole{0, 0, tile.size.width, tile.size.height};
        if (t.parts.empty()) {
            t.parts.push_back(whole);
        }
        for (const PixelRect& part : t.parts) {
            precondition(imaging::intersection(part, whole) == part && !part.isEmpty(),
                         "Part outside its tile");
        }
        collect(t.root, resources);
        size_t leaves = 0;
        numberLeaves(t.root, leaves);
    }
    auto shared = std::make_shared<const std::vector<TileComposite>>(std::move(tiles));
    commandBuffer.encodeHostCommand(
        "Composite tile",
        [shared, intermediates, destination, scratch, zeros] {
            const auto& tiles = *shared;
            std::vector<Leaves> leaves(tiles.size());
            for (size_t k = 0; k < tiles.size(); ++k) {
                findDirectLeaves(tiles[k].root, leaves[k]);
            }
            std::unique_lock<std::mutex> marks;
            if (zeros) {
                marks = std::unique_lock(zeros->mutex());
                prepareZeroTiles(*zeros, tiles, leaves);
            }
            std::vector<std::unique_ptr<TileJob>> jobs;
            for (size_t k = 0; k < tiles.size(); ++k) {
                int64_t area = 0;
                for (const PixelRect& part : tiles[k].parts) {
                    area += part.width * part.height;
                }
                // Large tiles are written past the caches: nothing reads them soon.
                const bool stream = area >= (int64_t(1) << 20);
                jobs.push_back(std::make_unique<TileJob>(tiles[k].root, intermediates.size(),
                                                         planeOf(*destination, tiles[k].tile),
                                                         stream, std::move(leaves[k])));
            }
            const std::vector<BlockRef> blocks = blocksOf(tiles);
            cpu::parallelRows(
                0, int64_t(blocks.size()),
                [&](int64_t first, int64_t end) {
                    auto arena = scratch->acquire();
                    for (int64_t b = first; b != end; ++b) {
                        const BlockRef& block = blocks[size_t(b)];
                        jobs[block.job]->run(block.r, *arena);
                    }
                    // One fence a band for the rows streamed to the destination.
                    kernels::finishStreaming(true);
                    scratch->giveBack(std::move(arena));
                },
                4);
        },
        std::move(resources));
}

} // namespace velmora
