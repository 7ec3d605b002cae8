#include "Rendering/TileCompositor.hpp"

#include "Rendering/BlendKernel.hpp"
#include "foundation/FatalError.hpp"
#include "gpu/cpu/Workers.hpp"
#include "imaging/TexturePixelSource.hpp"
#include "imaging/TileRenderer.hpp"

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

class TileJob {
public:
    TileJob(const CompositeStep& root, std::vector<Plane> planes, Plane destination, bool stream)
        : root_(root), planes_(std::move(planes)), destination_(destination), stream_(stream) {}

    void run(const PixelRect& r, ScratchArena& arena) const {
        ScratchScope scope(arena);
        const TileBuffer result = arena.allocate(r.width, r.height);
        groupImage(root_, 1, r, result, arena);
        store(result, destination_, r, stream_);
    }

private:
    void load(const Plane& plane, const PixelRect& r, const TileBuffer& out) const {
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

    const Plane& plane(size_t depth) const {
        precondition(depth < planes_.size(), "Intermediate depth out of range");
        return planes_[depth];
    }

    // The group's children composited at `depth`, read back premultiplied,
    // with the group's visibility and opacity applied.
    void groupImage(const CompositeStep& group, size_t depth, const PixelRect& r,
                    const TileBuffer& out, ScratchArena& arena) const {
        for (size_t i = 0; i < group.children.size(); ++i) {
            blendStep(group.children[i], depth, i == 0, r, arena);
        }
        if (!group.visible) {
            kernels::clear(out);
            return;
        }
        load(plane(depth), r, out);
        if (group.opacity != 1) {
            kernels::scale(out, group.opacity);
        }
    }

    // The step over what lies below it at `depth` (transparency for the
    // first), rounded into that depth's texture.
    void blendStep(const CompositeStep& step, size_t depth, bool first, const PixelRect& r,
                   ScratchArena& arena) const {
        ScratchScope scope(arena);
        const TileBuffer below = arena.allocate(r.width, r.height);
        const TileBuffer above = arena.allocate(r.width, r.height);
        if (step.isLeaf()) {
            step.image->render(r, above, arena);
        } else {
            groupImage(step, depth + 1, r, above, arena);
        }
        if (first) {
            kernels::clear(below);
        } else {
            load(plane(depth), r, below);
        }
        if (step.inverted) {
            kernels::blend(step.op, below, above);
            store(above, plane(depth), r);
        } else {
            kernels::blend(step.op, above, below);
            store(below, plane(depth), r);
        }
    }

    const CompositeStep& root_;
    std::vector<Plane> planes_;
    Plane destination_;
    bool stream_;
};

void collect(const CompositeStep& step, std::vector<std::shared_ptr<MTLResource>>& out) {
    if (step.image) {
        step.image->collectResources(out);
    }
    for (const auto& child : step.children) {
        collect(child, out);
    }
}

Plane planeOf(MTLTexture& texture, int64_t x, int64_t y) {
    precondition(texture.pixelFormat() == MTLPixelFormat::rgba8Unorm,
                 "Compositing needs rgba8Unorm textures");
    return {imaging::textureStorage(texture, imaging::StorageFormat::rgba8,
                                    imaging::StoredAlpha::unpremultiplied),
            x, y};
}

} // namespace

void encodeTileComposite(const CompositeStep& root, const MTLRegion& tile,
                         const std::vector<std::shared_ptr<MTLTexture>>& intermediates,
                         const std::shared_ptr<MTLTexture>& destination,
                         const std::shared_ptr<imaging::ScratchPool>& scratch,
                         MTLCommandBuffer& commandBuffer) {
    for (const auto& texture : intermediates) {
        precondition(texture->width() >= tile.size.width && texture->height() >= tile.size.height,
                     "Intermediate texture smaller than a tile");
    }
    precondition(tile.origin.x >= 0 && tile.origin.y >= 0 &&
                     tile.origin.x + tile.size.width <= destination->width() &&
                     tile.origin.y + tile.size.height <= destination->height(),
                 "Tile outside the destination");
    std::vector<std::shared_ptr<MTLResource>> resources(intermediates.begin(), intermediates.end());
    resources.push_back(destination);
    collect(root, resources);
    auto step = std::make_shared<const CompositeStep>(root);
    commandBuffer.encodeHostCommand(
        "Composite tile",
        [step, tile, intermediates, destination, scratch] {
            std::vector<Plane> planes;
            planes.reserve(intermediates.size());
            for (const auto& texture : intermediates) {
                planes.push_back(planeOf(*texture, 0, 0));
            }
            // Large tiles are written past the caches: nothing reads them soon.
            const bool stream = tile.size.width * tile.size.height >= (int64_t(1) << 20);
            const TileJob job(*step, std::move(planes),
                              planeOf(*destination, tile.origin.x, tile.origin.y), stream);
            const int64_t bw = imaging::renderTileWidth, bh = imaging::renderTileHeight;
            const int64_t columns = (tile.size.width + bw - 1) / bw;
            const int64_t rows = (tile.size.height + bh - 1) / bh;
            // A grid fixed by the tile alone, so any number of workers gives the same bits.
            cpu::parallelRows(
                0, columns * rows,
                [&](int64_t first, int64_t end) {
                    auto arena = scratch->acquire();
                    for (int64_t b = first; b != end; ++b) {
                        const int64_t x = (b % columns) * bw;
                        const int64_t y = (b / columns) * bh;
                        job.run({x, y, std::min(bw, tile.size.width - x),
                                 std::min(bh, tile.size.height - y)},
                                *arena);
                    }
                    scratch->giveBack(std::move(arena));
                },
                4);
        },
        std::move(resources));
}

} // namespace velmora
