#include "imaging/TileRenderer.hpp"

#include "foundation/FatalError.hpp"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

namespace velmora::imaging {

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

    tbb::parallel_for(
        tbb::blocked_range<int64_t>(0, columns * rows),
        [&](const tbb::blocked_range<int64_t>& range) {
            std::unique_ptr<ScratchArena> arena = pool.acquire();
            for (int64_t t = range.begin(); t != range.end(); ++t) {
                const int64_t tx = (t % columns) * renderTileWidth;
                const int64_t ty = (t / columns) * renderTileHeight;
                const int64_t w = std::min(renderTileWidth, dst.width - tx);
                const int64_t h = std::min(renderTileHeight, dst.height - ty);
                ScratchScope scope(*arena);
                const TileBuffer tile = arena->allocate(w, h);
                node.render({sx + tx, sy + ty, w, h}, tile, *arena);
                for (int64_t j = 0; j < h; ++j) {
                    const int64_t y = dst.y + ty + j;
                    const int64_t row = target.topRowFirst ? target.height - 1 - y : y;
                    std::byte* p =
                        target.base + size_t(row) * target.bytesPerRow + size_t(dst.x + tx) * bpp;
                    kernels::storeRow(tile.row(0, j), tile.row(1, j), tile.row(2, j),
                                      tile.row(3, j), size_t(w), target.format, target.alpha, p);
                }
            }
            pool.giveBack(std::move(arena));
        });
}

} // namespace velmora::imaging
