#pragma once

#include "gpu/MTLTexture.hpp"

#include <cstdint>

namespace velmora {

// A 64-bit digest of a texture's pixels as they are in memory now. It lets a
// stored encoding be trusted only while the pixels are exactly those it was
// made from, whatever wrote to the texture in between. The caller makes sure
// no command that writes the texture is running.
uint64_t textureChecksum(MTLTexture& texture);

} // namespace velmora
