#include "imaging/PixelKernelsAvx2.hpp"

#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

#define VELMORA_AVX2 __attribute__((target("avx2")))

namespace velmora::imaging::kernels::avx2 {

namespace {
// Must match the portable v / 255 (see PixelKernels.cpp).
constexpr double inv255 = 1.0 / 255.0;
constexpr float inv255Hi = float(double(int64_t(inv255 * double(1 << 19))) / double(1 << 19));
constexpr float inv255Lo = float(inv255 - double(inv255Hi));

VELMORA_AVX2 inline __m256 fromBytes(__m256i v) {
    const __m256 f = _mm256_cvtepi32_ps(v);
    return _mm256_add_ps(_mm256_mul_ps(f, _mm256_set1_ps(inv255Hi)),
                         _mm256_mul_ps(f, _mm256_set1_ps(inv255Lo)));
}

// round(clamp(v, 0, 1) · 255) with halves away from zero; NaN gives 0 since
// max returns its second operand for NaN.
VELMORA_AVX2 inline __m256i toBytes(__m256 v) {
    const __m256 c = _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(1.0f));
    const __m256 x = _mm256_mul_ps(c, _mm256_set1_ps(255.0f));
    const __m256i t = _mm256_cvttps_epi32(x);
    const __m256 frac = _mm256_sub_ps(x, _mm256_cvtepi32_ps(t));
    const __m256i up = _mm256_castps_si256(_mm256_cmp_ps(frac, _mm256_set1_ps(0.5f), _CMP_GE_OQ));
    return _mm256_sub_epi32(t, up);
}
} // namespace

bool available() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

VELMORA_AVX2 size_t loadRgba8(const std::byte* src, size_t n, bool premultiply, float* first,
                              float* g, float* third, float* a) {
    const __m256i mask = _mm256_set1_epi32(0xFF);
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i));
        const __m256 alpha = fromBytes(_mm256_srli_epi32(p, 24));
        __m256 c0 = fromBytes(_mm256_and_si256(p, mask));
        __m256 c1 = fromBytes(_mm256_and_si256(_mm256_srli_epi32(p, 8), mask));
        __m256 c2 = fromBytes(_mm256_and_si256(_mm256_srli_epi32(p, 16), mask));
        if (premultiply) {
            c0 = _mm256_mul_ps(c0, alpha);
            c1 = _mm256_mul_ps(c1, alpha);
            c2 = _mm256_mul_ps(c2, alpha);
        }
        _mm256_storeu_ps(first + i, c0);
        _mm256_storeu_ps(g + i, c1);
        _mm256_storeu_ps(third + i, c2);
        _mm256_storeu_ps(a + i, alpha);
    }
    return i;
}

VELMORA_AVX2 size_t storeRgba8(const float* first, const float* g, const float* third,
                               const float* a, size_t n, StoredAlpha alpha, std::byte* dst) {
    const __m256 one = _mm256_set1_ps(1.0f), zero = _mm256_setzero_ps();
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        __m256 c0 = _mm256_loadu_ps(first + i);
        __m256 c1 = _mm256_loadu_ps(g + i);
        __m256 c2 = _mm256_loadu_ps(third + i);
        const __m256 av = _mm256_loadu_ps(a + i);
        __m256i ai;
        if (alpha == StoredAlpha::unpremultiplied) {
            const __m256 positive = _mm256_cmp_ps(av, zero, _CMP_GT_OQ);
            const __m256 inv =
                _mm256_and_ps(_mm256_div_ps(one, _mm256_blendv_ps(one, av, positive)), positive);
            c0 = _mm256_mul_ps(c0, inv);
            c1 = _mm256_mul_ps(c1, inv);
            c2 = _mm256_mul_ps(c2, inv);
        }
        if (alpha == StoredAlpha::none) {
            ai = _mm256_set1_epi32(255);
        } else {
            ai = toBytes(av);
        }
        const __m256i p = _mm256_or_si256(
            _mm256_or_si256(toBytes(c0), _mm256_slli_epi32(toBytes(c1), 8)),
            _mm256_or_si256(_mm256_slli_epi32(toBytes(c2), 16), _mm256_slli_epi32(ai, 24)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * i), p);
    }
    return i;
}

} // namespace velmora::imaging::kernels::avx2

#else

namespace velmora::imaging::kernels::avx2 {
bool available() {
    return false;
}
size_t loadRgba8(const std::byte*, size_t, bool, float*, float*, float*, float*) {
    return 0;
}
size_t storeRgba8(const float*, const float*, const float*, const float*, size_t, StoredAlpha,
                  std::byte*) {
    return 0;
}
} // namespace velmora::imaging::kernels::avx2

#endif
