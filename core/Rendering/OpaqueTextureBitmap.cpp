#include "Rendering/OpaqueTextureBitmap.hpp"

#include "graphics/ColorManagement.hpp"
#include "graphics/NSColorSpace.hpp"

#include <atomic>
#include <cstring>
#include <tbb/parallel_for.h>

namespace velmora {

namespace {

// Fixed bands, so that the work does not depend on the number of threads.
constexpr int64_t bandRows = 64;

bool allOpaque(const uint8_t* row, int64_t width) {
    uint8_t alpha = 0xFF;
    for (int64_t x = 0; x < width; ++x) {
        alpha &= row[4 * x + 3];
    }
    return alpha == 0xFF;
}

} // namespace

std::shared_ptr<NSBitmapImageRep> opaqueTextureBitmap(MTLTexture& texture) {
    if (texture.pixelFormat() != MTLPixelFormat::rgba8Unorm || texture.width() <= 0 ||
        texture.height() <= 0) {
        return nullptr;
    }
    const MTLTextureContents source = texture.contentsForReading();
    auto bitmap = NSBitmapImageRep::makeRGBA8(
        source.width, source.height,
        NSColorSpace::withCGColorSpace(ColorManagement::workingColorSpace()));
    if (!bitmap) {
        return nullptr;
    }
    const int64_t height = source.height;
    const int64_t rowBytes = source.width * 4;
    const int64_t bands = (height + bandRows - 1) / bandRows;
    std::atomic<bool> opaque = true;
    tbb::parallel_for(int64_t(0), bands, [&](int64_t band) {
        const int64_t end = std::min(height, (band + 1) * bandRows);
        for (int64_t y = band * bandRows; y < end && opaque.load(std::memory_order_relaxed); ++y) {
            const uint8_t* from = source.row(y);
            if (!allOpaque(from, source.width)) {
                opaque.store(false, std::memory_order_relaxed);
                return;
            }
            // Texture row 0 is the picture's bottom; the bitmap's is its top.
            std::memcpy(bitmap->bitmapData() + (height - 1 - y) * bitmap->bytesPerRow(), from,
                        size_t(rowBytes));
        }
    });
    return opaque ? bitmap : nullptr;
}

} // namespace velmora
