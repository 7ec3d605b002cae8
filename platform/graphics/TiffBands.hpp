#pragma once

#include "graphics/CodecSupport.hpp"

#include <cstdint>
#include <utility>
#include <vector>

namespace velmora::codec {

// Whole strips of a TIFF, encoded apart from the file and copied into it raw.
struct EncodedBand {
    std::vector<uint8_t> bytes;
    std::vector<std::pair<uint64_t, uint64_t>> strips; // offset and size in `bytes`
};

// Rows [y0, y1) of a `width`-pixel picture as LZW strips of `rowsPerStrip`
// rows with horizontal differencing, 8-bit RGB or RGBA. y0 starts a strip.
EncodedBand encodeLzwBand(uint32_t width, bool alpha, uint32_t y0, uint32_t y1,
                          uint32_t rowsPerStrip, const BandFiller& fill);

} // namespace velmora::codec
