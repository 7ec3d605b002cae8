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

// A thread's buffers, kept from band to band: fresh memory for every band
// costs page faults, and on a busy machine the waits for them.
struct Scratch {
    std::vector<uint8_t> rgba, strip, coded;
    LzwEncoder encoder;

    static uint8_t* sized(std::vector<uint8_t>& buffer, size_t size) {
        if (buffer.size() < size) {
            buffer.resize(size);
        }
        return buffer.data();
    }

    // Bands of very wide pictures leave no lasting memory behind.
    void trim() {
        constexpr size_t kept = size_t(4) << 20;
        for (auto* buffer : {&rgba, &strip, &coded}) {
            if (buffer->capacity() > kept) {
                *buffer = {};
            }
        }
    }
};

} // namespace

EncodedBand encodeLzwBand(uint32_t width, bool alpha, uint32_t y0, uint32_t y1,
                          uint32_t rowsPerStrip, const BandFiller& fill) {
    thread_local Scratch scratch;
    const size_t rgbaRowBytes = size_t(width) * 4;
    const size_t rowBytes = size_t(width) * (alpha ? 4 : 3);
    uint8_t* const rgba = Scratch::sized(scratch.rgba, size_t(y1 - y0) * rgbaRowBytes);
    fill(y0, y1, rgba);

    const size_t stripBytes = size_t(rowsPerStrip) * rowBytes;
    uint8_t* const strip = Scratch::sized(scratch.strip, stripBytes);
    const size_t strips = (y1 - y0 + rowsPerStrip - 1) / rowsPerStrip;
    uint8_t* const coded =
        Scratch::sized(scratch.coded, strips * LzwEncoder::maximumEncodedSize(stripBytes));
    EncodedBand band;
    size_t codedSize = 0;
    for (uint32_t first = y0; first < y1; first += rowsPerStrip) {
        const uint32_t end = std::min(y1, first + rowsPerStrip);
        for (uint32_t y = first; y < end; ++y) {
            const uint8_t* row = rgba + size_t(y - y0) * rgbaRowBytes;
            uint8_t* out = strip + size_t(y - first) * rowBytes;
            if (alpha) {
                differenceRow<4>(row, width, out);
            } else {
                differenceRow<3>(row, width, out);
            }
        }
        const size_t size =
            scratch.encoder.encode(strip, size_t(end - first) * rowBytes, coded + codedSize);
        band.strips.emplace_back(codedSize, size);
        codedSize += size;
    }
    band.bytes.assign(coded, coded + codedSize);
    scratch.trim();
    return band;
}

} // namespace velmora::codec
