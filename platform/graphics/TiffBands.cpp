#include "graphics/TiffBands.hpp"

#include "graphics/LzwEncoder.hpp"

#include <algorithm>
#include <cstring>
#include <memory>

namespace velmora::codec {

namespace {

// Each sample less the same sample of the pixel before (TIFF predictor 2),
// taking `Samples` of the four of each RGBA pixel.
template <int Samples>
void differenceRow(const uint8_t* __restrict rgba, uint32_t width, uint8_t* __restrict out) {
    std::memcpy(out, rgba, Samples);
    for (uint32_t x = 1; x < width; ++x) {
        for (int c = 0; c < Samples; ++c) {
            out[size_t(x) * Samples + c] =
                uint8_t(rgba[size_t(x) * 4 + c] - rgba[size_t(x - 1) * 4 + c]);
        }
    }
}

// Memory the caller writes in full before reading: not cleared first.
std::unique_ptr<uint8_t[]> uninitialised(size_t size) {
    return std::unique_ptr<uint8_t[]>(new uint8_t[size]);
}

} // namespace

EncodedBand encodeLzwBand(uint32_t width, bool alpha, uint32_t y0, uint32_t y1,
                          uint32_t rowsPerStrip, const BandFiller& fill) {
    const size_t rgbaRowBytes = size_t(width) * 4;
    const size_t rowBytes = size_t(width) * (alpha ? 4 : 3);
    const auto rgba = uninitialised(size_t(y1 - y0) * rgbaRowBytes);
    fill(y0, y1, rgba.get());

    const size_t stripBytes = size_t(rowsPerStrip) * rowBytes;
    const auto strip = uninitialised(stripBytes);
    const auto coded = uninitialised(LzwEncoder::maximumEncodedSize(stripBytes));
    const auto encoder = std::make_unique<LzwEncoder>();
    EncodedBand band;
    band.bytes.reserve(size_t(y1 - y0) * rowBytes / 2);
    for (uint32_t first = y0; first < y1; first += rowsPerStrip) {
        const uint32_t end = std::min(y1, first + rowsPerStrip);
        for (uint32_t y = first; y < end; ++y) {
            const uint8_t* row = rgba.get() + size_t(y - y0) * rgbaRowBytes;
            uint8_t* out = strip.get() + size_t(y - first) * rowBytes;
            if (alpha) {
                differenceRow<4>(row, width, out);
            } else {
                differenceRow<3>(row, width, out);
            }
        }
        const size_t size =
            encoder->encode(strip.get(), size_t(end - first) * rowBytes, coded.get());
        band.strips.emplace_back(band.bytes.size(), size);
        band.bytes.insert(band.bytes.end(), coded.get(), coded.get() + size);
    }
    return band;
}

} // namespace velmora::codec
