#pragma once

#include "imaging/PixelKernels.hpp"
#include "imaging/PixelStorage.hpp"

#include <cstddef>

// Hand-written AVX2 forms of the hottest loops of a render. They handle whole
// groups of 8 pixels and return how many they did; the caller finishes the
// rest with the portable loops, which compute the same operations in the same
// order and so give the same bits.
namespace velmora::imaging::kernels::avx2 {

bool available();

size_t loadRgba8(const std::byte* src, size_t n, bool premultiply, float* first, float* g,
                 float* third, float* a);

size_t storeRgba8(const float* first, const float* g, const float* third, const float* a, size_t n,
                  StoredAlpha alpha, std::byte* dst);

// Two 8-bit RGBA rows blended straight into an 8-bit RGBA row, never leaving
// registers: read, premultiply, blend, convert alpha, round, write.
size_t blendRgba8(BlendOp op, const std::byte* foreground, bool premultiplyForeground,
                  const std::byte* background, bool premultiplyBackground, size_t n,
                  StoredAlpha alpha, std::byte* dst);

} // namespace velmora::imaging::kernels::avx2
