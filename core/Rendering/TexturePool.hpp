#pragma once

#include "gpu/MTLGeometry.hpp"
#include "gpu/MTLPixelFormat.hpp"
#include "gpu/MTLTexture.hpp"
#include "gpu/MTLTypes.hpp"

#include <map>
#include <memory>
#include <string>

namespace velmora {

// Scratch and transfer textures kept by label: asking again under a label with
// the same size, usage, storage mode and pixel format hands out the same texture,
// with whatever contents its last user left. Used from one thread.
class TexturePool {
public:
    TexturePool() = default;

    // A new texture replaces the one under the label when any property differs;
    // its contents are undefined until written. The texture carries the label.
    std::shared_ptr<MTLTexture> texture(const std::string& label, const MTLSize& size,
                                        MTLTextureUsage usage, MTLStorageMode storageMode,
                                        MTLPixelFormat pixelFormat);

    const std::map<std::string, std::shared_ptr<MTLTexture>>& pool() const { return pool_; }

private:
    std::map<std::string, std::shared_ptr<MTLTexture>> pool_;
};

} // namespace velmora
