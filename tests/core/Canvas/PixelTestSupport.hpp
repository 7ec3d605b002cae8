#pragma once

#include "Rendering/MetalHelper.hpp"
#include "graphics/ColorManagement.hpp"
#include "graphics/NSBitmapImageRep.hpp"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace velmora::testing {

using RGBA = std::array<uint8_t, 4>;

// Every pixel of a texture, row 0 first, once all committed work has run.
inline std::vector<uint8_t> texturePixels(const std::shared_ptr<MTLTexture>& texture) {
    MetalHelper& helper = *MetalHelper::shared();
    const auto readable = helper.makeTexture(
        {texture->width(), texture->height(), 1}, MTLTextureUsage::shaderReadWrite,
        MTLStorageMode::managed, MTLPixelFormat::rgba8Unorm, std::nullopt);
    helper.execute([&](MetalHelper& h, const std::shared_ptr<MTLCommandBuffer>& cb) {
        h.paste(texture, std::nullopt, MTLOriginZero, readable, cb);
    });
    std::vector<uint8_t> bytes(static_cast<size_t>(texture->width() * texture->height() * 4));
    readable->getBytes(bytes.data(), texture->width() * 4,
                       MTLRegionMake2D(0, 0, texture->width(), texture->height()), 0);
    return bytes;
}

inline RGBA texturePixel(const std::vector<uint8_t>& bytes, int64_t width, int64_t x, int64_t row) {
    const auto* p = &bytes[static_cast<size_t>((row * width + x) * 4)];
    return {p[0], p[1], p[2], p[3]};
}

inline RGBA pixelOf(const NSBitmapImageRep& bitmap, int64_t x, int64_t y) {
    const uint8_t* p = bitmap.row(y) + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

// Every pixel different and alpha varying, so a flip, a transposition or a
// premultiplication shows.
inline std::shared_ptr<NSBitmapImageRep> lopsidedBitmap(int64_t w, int64_t h) {
    auto bitmap = NSBitmapImageRep::makeRGBA8(w, h, ColorManagement::workingNSColorSpace());
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            uint8_t* p = bitmap->row(y) + 4 * x;
            p[0] = static_cast<uint8_t>(7 * x + 1);
            p[1] = static_cast<uint8_t>(31 * y + 2);
            p[2] = static_cast<uint8_t>(x * y + 3);
            p[3] = static_cast<uint8_t>(255 - 3 * ((x + y) % 5));
        }
    }
    return bitmap;
}

} // namespace velmora::testing
