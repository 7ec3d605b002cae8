#pragma once

#include "imaging/PixelKernels.hpp"
#include "imaging/PixelStorage.hpp"

#include <cstddef>

// Hand-written SIMD forms of the hottest loops of a render, for AVX2 and
// AVX-512. They handle whole vectors of pixels and return how many they did;
// the caller finishes the rest with the portable loops, which compute the same
// operations in the same order and so give the same bits.
#define VELMORA_SIMD_DECLARATIONS                                                                  \
    bool available();                                                                              \
    size_t loadRgba8(const std::byte* src, size_t n, bool premultiply, float* first, float* g,     \
                     float* third, float* a);                                                      \
    /* `stream` writes past the caches where the row is aligned for it. */                         \
    size_t storeRgba8(const float* first, const float* g, const float* third, const float* a,      \
                      size_t n, StoredAlpha alpha, bool stream, std::byte* dst);                   \
    /* Two 8-bit RGBA rows blended into an 8-bit RGBA row without leaving registers. */            \
    size_t blendRgba8(BlendOp op, const RowInput& foreground, const RowInput& background,          \
                      size_t n, StoredAlpha alpha, bool stream, std::byte* dst);

namespace velmora::imaging::kernels::avx2 {
VELMORA_SIMD_DECLARATIONS
} // namespace velmora::imaging::kernels::avx2

namespace velmora::imaging::kernels::avx512 {
VELMORA_SIMD_DECLARATIONS
} // namespace velmora::imaging::kernels::avx512

#undef VELMORA_SIMD_DECLARATIONS
