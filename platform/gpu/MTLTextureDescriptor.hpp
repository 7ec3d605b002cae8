#pragma once

#include "gpu/MTLPixelFormat.hpp"
#include "gpu/MTLTypes.hpp"

#include <cstdint>

namespace velmora {

struct MTLTextureDescriptor {
    MTLTextureType textureType = MTLTextureType::type2D;
    MTLPixelFormat pixelFormat = MTLPixelFormat::rgba8Unorm;
    int64_t width = 1;
    int64_t height = 1;
    int64_t depth = 1;
    int64_t mipmapLevelCount = 1;
    int64_t arrayLength = 1;
    MTLTextureUsage usage = MTLTextureUsage::shaderRead;
    MTLStorageMode storageMode = MTLStorageMode::private_;

    static MTLTextureDescriptor texture2DDescriptor(MTLPixelFormat format, int64_t width,
                                                    int64_t height, bool mipmapped = false) {
        MTLTextureDescriptor d;
        d.pixelFormat = format;
        d.width = width;
        d.height = height;
        d.mipmapLevelCount = mipmapped ? 0 : 1;
        return d;
    }
};

} // namespace velmora
