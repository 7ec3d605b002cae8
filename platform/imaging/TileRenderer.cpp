#include "imaging/TileRenderer.hpp"

#include "foundation/FatalError.hpp"
#include "gpu/cpu/Workers.hpp"

namespace velmora::imaging {

namespace {

// A stored RGBA8 input of the fused blend, placed in image space.
struct FusedInput {
    PixelStorage storage;
    PixelRect extent;
    bool premultiply = false;
    float scale = 1.0f;

    kernels::RowInput row(int64_t x, int64_t y) const { return {pixel(x, y), premultiply, scale}; }

    const std::byte* pixel(int64_t x, int64_t y) const {
        const int64_t r = y - extent.y;
        const int64_t row = storage.topRowFirst ? storage.height - 1 - r : r;
        return storage.base + size_t(row) * storage.bytesPerRow + size_t(x - extent.x) * 4;
    }
};

std::optional<FusedInput> fusedInput(const ImageNode& node) {
    const auto direct = node.directSource();
    if (!direct) {
        return std::nullopt;
    }
    const PixelStorage s = direct->source->storage();
    if (s.base == nullptr || s.format != StorageFormat::rgba8) {
        return std::nullopt;
    }
    return FusedInput{
        s, {direct->dx, direct->dy, s.width, s.height}, direct->premultiply, direct->scale};
}

// The common case of compositing, one 8-bit layer over another into an 8-bit
// texture, runs in one pass per row without tiles of floats.
struct FusedBlend {
    kernels::BlendOp op;
    FusedInput foreground, background;

    bool covers(const PixelRect& r) const {
        return intersection(r, foreground.extent) == r && intersection(r, background.extent) == r;
    }
};

std::optional<FusedBlend> fusedBlend(const ImageNode& node, const MutablePixelStorage& target) {
    if (target.format != StorageFormat::rgba8) {
        return std::nullopt;
    }
    const auto inputs = node.blendInputs();
    if (!inputs) {
        return std::nullopt;
    }
    auto fg = fusedInput(*inputs->foreground);
    auto bg = fg ? fusedInput(*inputs->background) : std::nullopt;
    if (!bg) {
        return std::nullopt;
    }
    return FusedBlend{inputs->op, *fg, *bg};
}

} // namespace

void renderToStorage(const ImageNode& node, const PixelRect& from,
                     const MutablePixelStorage& target, int64_t atX, int64_t atY,
                     ScratchPool& pool) {
    precondition(target.base != nullptr, "Render target without storage");
    const PixelRect placed{atX, atY, from.width, from.height};
    const PixelRect dst = intersection(placed, {0, 0, target.width, target.height});
    if (dst.isEmpty()) {
        return;
    }
    const int64_t sx = from.x + (dst.x - atX), sy = from.y + (dst.y - atY);
    const int64_t columns = (dst.width + renderTileWidth - 1) / renderTileWidth;
    const int64_t rows = (dst.height + renderTileHeight - 1) / renderTileHeight;
    const size_t bpp = bytesPerPixel(target.format);
    const std::optional<FusedBlend> fused = fusedBlend(node, target);
    // Outputs much larger than the caches are written past them.
    const bool stream = size_t(dst.width) * size_t(dst.height) * bpp >= (size_t(64) << 20);

    // The device's workers, in bands of a few tiles: the grid is the same for
    // any number of workers.
    cpu::parallelRows(
        0, columns * rows,
        [&](int64_t firstTile, int64_t endTile) {
            std::unique_ptr<ScratchArena> arena = pool.acquire();
            for (int64_t t = firstTile; t != endTile; ++t) {
                const int64_t tx = (t % columns) * renderTileWidth;
                const int64_t ty = (t / columns) * renderTileHeight;
                const int64_t w = std::min(renderTileWidth, dst.width - tx);
                const int64_t h = std::min(renderTileHeight, dst.height - ty);
                const PixelRect rect{sx + tx, sy + ty, w, h};
                const auto out = [&](int64_t j) {
                    const int64_t y = dst.y + ty + j;
                    const int64_t row = target.topRowFirst ? target.height - 1 - y : y;
                    return target.base + size_t(row) * target.bytesPerRow +
                           size_t(dst.x + tx) * bpp;
                };
                if (fused && fused->covers(rect)) {
                    for (int64_t j = 0; j < h; ++j) {
                        kernels::blendRowRgba8(fused->op, fused->foreground.row(rect.x, rect.y + j),
                                               fused->background.row(rect.x, rect.y + j), size_t(w),
                                               target.alpha, out(j), stream);
                    }
                    continue;
                }
                ScratchScope scope(*arena);
                const TileBuffer tile = arena->allocate(w, h);
                node.render(rect, tile, *arena);
                for (int64_t j = 0; j < h; ++j) {
                    kernels::storeRow(tile.row(0, j), tile.row(1, j), tile.row(2, j),
                                      tile.row(3, j), size_t(w), target.format, target.alpha,
                                      out(j), stream);
                }
            }
            // One fence a band: one a row would wait on the stores of each.
            kernels::finishStreaming(stream && fused);
            pool.giveBack(std::move(arena));
        },
        4);
}

} // namespace velmora::imaging
