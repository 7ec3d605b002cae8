#pragma once

#include "graphics/ColorManagement.hpp"
#include "graphics/NSBitmapImageRep.hpp"

#include <cstdint>
#include <vector>

namespace velmora::test {

// An asymmetric picture: every pixel differs from its mirror images, alpha runs
// from clear to opaque, and clear pixels keep distinct colours.
inline NSBitmapImageRepRef asymmetricPicture(int64_t width = 13, int64_t height = 9,
                                             bool opaque = false) {
    auto rep = NSBitmapImageRep::makeRGBA8(width, height, ColorManagement::workingNSColorSpace());
    for (int64_t y = 0; y < height; ++y) {
        for (int64_t x = 0; x < width; ++x) {
            uint8_t* p = rep->row(y) + x * 4;
            p[0] = static_cast<uint8_t>(x * 19 + y * 3);
            p[1] = static_cast<uint8_t>(y * 27 + 5);
            p[2] = static_cast<uint8_t>(x * y * 7 + 11);
            p[3] =
                opaque ? 255 : static_cast<uint8_t>((x + y * width) * 255 / (width * height - 1));
        }
    }
    return rep;
}

// Four flat quadrants (red, green / blue, white) that lossy coding keeps recognisable.
inline NSBitmapImageRepRef quadrantPicture(int64_t width = 32, int64_t height = 24) {
    auto rep = NSBitmapImageRep::makeRGBA8(width, height, ColorManagement::workingNSColorSpace());
    for (int64_t y = 0; y < height; ++y) {
        for (int64_t x = 0; x < width; ++x) {
            const bool right = x >= width / 2, bottom = y >= height / 2;
            static constexpr uint8_t colours[4][3] = {
                {220, 30, 40}, {40, 200, 60}, {30, 50, 210}, {250, 250, 250}};
            const auto& c = colours[(bottom ? 2 : 0) + (right ? 1 : 0)];
            uint8_t* p = rep->row(y) + x * 4;
            p[0] = c[0], p[1] = c[1], p[2] = c[2], p[3] = 255;
        }
    }
    return rep;
}

inline std::vector<uint8_t> pixels(const NSBitmapImageRep& rep) {
    std::vector<uint8_t> out;
    for (int64_t y = 0; y < rep.pixelsHigh(); ++y) {
        out.insert(out.end(), rep.row(y), rep.row(y) + rep.pixelsWide() * 4);
    }
    return out;
}

inline const uint8_t* pixelAt(const NSBitmapImageRep& rep, int64_t x, int64_t y) {
    return rep.row(y) + x * 4;
}

} // namespace velmora::test
