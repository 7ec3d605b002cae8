#pragma once

#include "imaging/ImageNode.hpp"

namespace velmora::imaging {

// Tile grid of a render: fixed by the region alone, never by the number of
// workers, so results are the same for any thread count.
inline constexpr int64_t renderTileWidth = 1024;
inline constexpr int64_t renderTileHeight = 2;

// Renders the pixels `from` of the image into `target`, the corner of `from`
// landing on (atX, atY) of the target's y-up pixel space; clipped to the
// target. Runs on the GPU device's worker threads and returns when done.
void renderToStorage(const ImageNode& node, const PixelRect& from,
                     const MutablePixelStorage& target, int64_t atX, int64_t atY,
                     ScratchPool& pool);

} // namespace velmora::imaging
