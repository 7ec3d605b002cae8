#include "imaging/PixelKernelsSimd.hpp"

#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

#define VELMORA_SIMD_TARGET "avx2,fma"
#define VELMORA_V __attribute__((target("avx2,fma"), always_inline)) static inline

namespace velmora::imaging::kernels::avx2 {

namespace {
struct V {
    using F = __m256;
    using I = __m256i;
    using M = __m256;
    static constexpr size_t lanes = 8;

    static bool supported() {
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }
    VELMORA_V F zero() { return _mm256_setzero_ps(); }
    VELMORA_V F set1(float v) { return _mm256_set1_ps(v); }
    VELMORA_V I set1i(int v) { return _mm256_set1_epi32(v); }
    VELMORA_V F add(F a, F b) { return _mm256_add_ps(a, b); }
    VELMORA_V F sub(F a, F b) { return _mm256_sub_ps(a, b); }
    VELMORA_V F mul(F a, F b) { return _mm256_mul_ps(a, b); }
    VELMORA_V F div(F a, F b) { return _mm256_div_ps(a, b); }
    VELMORA_V F min(F a, F b) { return _mm256_min_ps(a, b); }
    VELMORA_V F max(F a, F b) { return _mm256_max_ps(a, b); }
    VELMORA_V F cvt(I v) { return _mm256_cvtepi32_ps(v); }
    VELMORA_V I cvtt(F v) { return _mm256_cvttps_epi32(v); }
    VELMORA_V M cmpgt(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
    VELMORA_V M cmpge(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GE_OQ); }
    VELMORA_V M cmple(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_LE_OQ); }
    VELMORA_V F select(M m, F ifSet, F otherwise) { return _mm256_blendv_ps(otherwise, ifSet, m); }
    VELMORA_V F keepWhere(F v, M m) { return _mm256_and_ps(v, m); }
    VELMORA_V I incrementWhere(I t, M m) { return _mm256_sub_epi32(t, _mm256_castps_si256(m)); }
    VELMORA_V I andi(I a, I b) { return _mm256_and_si256(a, b); }
    VELMORA_V I ori(I a, I b) { return _mm256_or_si256(a, b); }
    template <int n> VELMORA_V I srli(I v) { return _mm256_srli_epi32(v, n); }
    template <int n> VELMORA_V I slli(I v) { return _mm256_slli_epi32(v, n); }
    VELMORA_V I loadi(const std::byte* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    VELMORA_V void storei(std::byte* p, I v) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
    }
    VELMORA_V void streami(std::byte* p, I v) {
        _mm256_stream_si256(reinterpret_cast<__m256i*>(p), v);
    }
    VELMORA_V F reciprocal(F v) { return _mm256_div_ps(_mm256_set1_ps(1.0f), v); }
    // Byte k of every 32-bit lane, zero extended.
    template <int k> VELMORA_V I byteOf(I v) {
        constexpr char z = char(0x80);
        const __m128i half =
            _mm_setr_epi8(k, z, z, z, 4 + k, z, z, z, 8 + k, z, z, z, 12 + k, z, z, z);
        return _mm256_shuffle_epi8(v, _mm256_broadcastsi128_si256(half));
    }
    VELMORA_V I bits(F v) { return _mm256_castps_si256(v); }
    VELMORA_V F abs(F v) {
        return _mm256_and_ps(v, _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF)));
    }
    VELMORA_V M both(M a, M b) { return _mm256_and_ps(a, b); }
    VELMORA_V bool any(M m) { return _mm256_movemask_ps(m) != 0; }
    VELMORA_V I keepWherei(I v, M m) { return _mm256_and_si256(v, _mm256_castps_si256(m)); }
    VELMORA_V F loadf(const float* p) { return _mm256_loadu_ps(p); }
    VELMORA_V I minu(I a, I b) { return _mm256_min_epu32(a, b); }
    VELMORA_V I addi(I a, I b) { return _mm256_add_epi32(a, b); }
    VELMORA_V I subi(I a, I b) { return _mm256_sub_epi32(a, b); }
    // Bytewise sum, modulo 256.
    VELMORA_V I addBytes(I a, I b) { return _mm256_add_epi8(a, b); }
    // mask ? ifSet : otherwise, for masks of whole bytes.
    VELMORA_V I bitSelect(I mask, I ifSet, I otherwise) {
        return _mm256_blendv_epi8(otherwise, ifSet, mask);
    }
    VELMORA_V M noLanes() { return _mm256_setzero_ps(); }
    VELMORA_V M either(M a, M b) { return _mm256_or_ps(a, b); }
    VELMORA_V bool all(M m) { return _mm256_movemask_ps(m) == 0xFF; }
    // Lanes where v & mask is 0.
    VELMORA_V M noneOf(I v, I mask) {
        return _mm256_castsi256_ps(
            _mm256_cmpeq_epi32(_mm256_and_si256(v, mask), _mm256_setzero_si256()));
    }
    // Lanes whose top byte (alpha) is 255.
    VELMORA_V M opaque(I v) {
        const I alpha = _mm256_set1_epi32(int(0xFF000000u));
        return _mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_and_si256(v, alpha), alpha));
    }
    VELMORA_V I selecti(M m, I ifSet, I otherwise) {
        return _mm256_blendv_epi8(otherwise, ifSet, _mm256_castps_si256(m));
    }
    VELMORA_V I dropWherei(I v, M m) { return _mm256_andnot_si256(_mm256_castps_si256(m), v); }
    // Every byte min(a + b, 255).
    VELMORA_V I addSaturated(I a, I b) { return _mm256_adds_epu8(a, b); }
    // a · b + c with one rounding.
    VELMORA_V F fmadd(F a, F b, F c) { return _mm256_fmadd_ps(a, b, c); }
    // The nearest whole number (halves to even).
    VELMORA_V I roundi(F v) { return _mm256_cvtps_epi32(v); }
    // 1 / v to within 2^-22 relative where m is set, else 0.
    VELMORA_V F reciprocalWhere(F v, M m) {
        const F r = _mm256_and_ps(_mm256_rcp_ps(v), m);
        return _mm256_fmadd_ps(r, _mm256_fnmadd_ps(v, r, _mm256_set1_ps(1.0f)), r);
    }
    VELMORA_V void storef(float* p, F v) { _mm256_storeu_ps(p, v); }
};
} // namespace

#include "imaging/PixelKernelsSimd.inc"

} // namespace velmora::imaging::kernels::avx2

#else

namespace velmora::imaging::kernels::avx2 {
bool available() {
    return false;
}
size_t loadRgba8(const std::byte*, size_t, bool, float*, float*, float*, float*) {
    return 0;
}
size_t storeRgba8(const float*, const float*, const float*, const float*, size_t, StoredAlpha, bool,
                  std::byte*) {
    return 0;
}
size_t blendRgba8(BlendOp, const RowInput&, const RowInput&, size_t, StoredAlpha, bool,
                  std::byte*) {
    return 0;
}
} // namespace velmora::imaging::kernels::avx2

#endif
