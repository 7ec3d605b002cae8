#pragma once

#include "gpu/MTLTexture.hpp"
#include "gpu/cpu/PixelIO.hpp"

namespace velmora::cpu {

// Reads a texture at normalised coordinates for fragment functions: (0, 0) is the
// first texel of row 0, coordinates outside [0, 1] clamp to the edge.
class TextureSampler {
public:
    explicit TextureSampler(MTLTextureContents contents);

    void nearest(float u, float v, float* rgba) const;
    void linear(float u, float v, float* rgba) const;

private:
    void texel(int64_t x, int64_t y, float* rgba) const;

    MTLTextureContents contents_;
    PixelLayout layout_;
};

} // namespace velmora::cpu
