#pragma once

#include "gpu/MTLGeometry.hpp"
#include "gpu/MTLTexture.hpp"
#include "gpu/MTLTypes.hpp"

namespace velmora {

// The texture's width, height and depth: how textures are compared with canvas
// and patch sizes.
inline MTLSize size(const MTLTexture& texture) {
    return {texture.width(), texture.height(), texture.depth()};
}

// Two textures are equal when they report the same hash.
inline bool operator==(const MTLTexture& a, const MTLTexture& b) {
    return a.hash() == b.hash();
}

} // namespace velmora
