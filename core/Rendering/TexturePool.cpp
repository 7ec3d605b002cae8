#include "Rendering/TexturePool.hpp"

#include "MetalExtensions/MTLTextureExtensions.hpp"
#include "Rendering/MetalHelper.hpp"
#include "foundation/FatalError.hpp"

namespace velmora {

std::shared_ptr<MTLTexture> TexturePool::texture(const std::string& label, const MTLSize& size,
                                                 MTLTextureUsage usage, MTLStorageMode storageMode,
                                                 MTLPixelFormat pixelFormat) {
    if (const auto it = pool_.find(label); it != pool_.end()) {
        const auto& t = *it->second;
        if (velmora::size(t) == size && t.usage() == usage && t.storageMode() == storageMode &&
            t.pixelFormat() == pixelFormat) {
            return it->second;
        }
    }
    auto descriptor =
        MTLTextureDescriptor::texture2DDescriptor(pixelFormat, size.width, size.height);
    descriptor.usage = usage;
    descriptor.storageMode = storageMode;
    auto texture = MetalHelper::shared()->device()->newTexture(descriptor);
    precondition(texture != nullptr);
    texture->setLabel(label);
    pool_[label] = texture;
    return texture;
}

} // namespace velmora
