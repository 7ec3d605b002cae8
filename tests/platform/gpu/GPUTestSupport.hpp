#pragma once

#include "gpu/MTLDevice.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace velmora::test {

inline std::shared_ptr<MTLDevice> device() {
    return MTLCreateSystemDefaultDevice();
}

inline std::shared_ptr<MTLTexture>
makeTexture(int64_t width, int64_t height, MTLPixelFormat format = MTLPixelFormat::rgba8Unorm,
            MTLStorageMode storage = MTLStorageMode::shared,
            MTLTextureUsage usage = MTLTextureUsage::shaderReadWrite) {
    auto d = MTLTextureDescriptor::texture2DDescriptor(format, width, height);
    d.storageMode = storage;
    d.usage = usage;
    return device()->newTexture(d);
}

inline int64_t bytesPerPixel(const MTLTexture& t) {
    return const_cast<MTLTexture&>(t).contents().bytesPerPixel;
}

inline std::vector<uint8_t> readAll(const MTLTexture& t) {
    const int64_t bpr = t.width() * bytesPerPixel(t);
    std::vector<uint8_t> out(static_cast<size_t>(bpr * t.height()));
    t.getBytes(out.data(), bpr, MTLRegionMake2D(0, 0, t.width(), t.height()), 0);
    return out;
}

inline void writeAll(MTLTexture& t, const std::vector<uint8_t>& bytes) {
    t.replaceRegion(MTLRegionMake2D(0, 0, t.width(), t.height()), 0, bytes.data(),
                    t.width() * bytesPerPixel(t));
}

// Distinct bytes everywhere, so a swapped row or column shows.
inline std::vector<uint8_t> pattern(size_t count, uint8_t seed = 1) {
    std::vector<uint8_t> v(count);
    uint32_t s = seed * 2654435761u + 12345u;
    for (auto& b : v) {
        s = s * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(s >> 24);
    }
    return v;
}

} // namespace velmora::test
