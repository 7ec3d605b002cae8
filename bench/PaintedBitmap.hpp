#pragma once

#include "graphics/ColorManagement.hpp"
#include "graphics/NSBitmapImageRep.hpp"

#include <cmath>
#include <cstdint>
#include <memory>
#include <tbb/parallel_for.h>

namespace velmora::bench {

// A square of smooth gradients with a little grain and soft transparent blobs,
// different per seed: compresses like paint, not like a flat colour or noise.
inline std::shared_ptr<NSBitmapImageRep> paintedBitmap(int64_t side, int seed) {
    auto bitmap = NSBitmapImageRep::makeRGBA8(side, side, ColorManagement::workingNSColorSpace());
    tbb::parallel_for(int64_t(0), side, [&](int64_t y) {
        uint8_t* row = bitmap->row(y);
        uint32_t grain = uint32_t(y * 2654435761u + uint32_t(seed) * 40503u);
        for (int64_t x = 0; x < side; ++x) {
            grain = grain * 1664525u + 1013904223u;
            const int g = int(grain >> 29);
            const double wave =
                std::sin(double(x + 97 * seed) / 311.0) * std::cos(double(y) / 173.0);
            row[4 * x + 0] = uint8_t((x * 255 / side + g) & 0xFF);
            row[4 * x + 1] = uint8_t(int(127.5 + 120 * wave) + g);
            row[4 * x + 2] = uint8_t(((x + y + 500 * seed) / 40) & 0xFF);
            row[4 * x + 3] = uint8_t(wave > 0.6 ? 255 - int(200 * (wave - 0.6)) : 255);
        }
    });
    return bitmap;
}

} // namespace velmora::bench
