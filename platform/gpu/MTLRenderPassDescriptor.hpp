#pragma once

#include "gpu/MTLTexture.hpp"
#include "gpu/MTLTypes.hpp"

#include <array>
#include <memory>

namespace velmora {

struct MTLRenderPassColorAttachmentDescriptor {
    std::shared_ptr<MTLTexture> texture;
    MTLLoadAction loadAction = MTLLoadAction::dontCare;
    MTLStoreAction storeAction = MTLStoreAction::store;
    MTLClearColor clearColor{0, 0, 0, 1};
};

struct MTLRenderPassDescriptor {
    std::array<MTLRenderPassColorAttachmentDescriptor, 1> colorAttachments;
};

} // namespace velmora
