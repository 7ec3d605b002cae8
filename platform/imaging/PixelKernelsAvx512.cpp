#include "imaging/PixelKernelsSimd.hpp"

#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
// GCC 12's AVX-512 headers start masked operations from an undefined vector,
// which its own flow analysis then reports as uninitialised.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#define VELMORA_SIMD_TARGET "avx512f,avx512bw,avx512dq,avx512vl"
#define VELMORA_V                                                                                  \
    __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl"), always_inline)) static inline

namespace velmora::imaging::kernels::avx512 {

namespace {
struct V {
    using F = __m512;
    using I = __m512i;
    using M = __mmask16;
    static constexpr size_t lanes = 16;

    static bool supported() {
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
    }
    VELMORA_V F zero() { return _mm512_setzero_ps(); }
    VELMORA_V F set1(float v) { return _mm512_set1_ps(v); }
    VELMORA_V I set1i(int v) { return _mm512_set1_epi32(v); }
    VELMORA_V F add(F a, F b) { return _mm512_add_ps(a, b); }
    VELMORA_V F sub(F a, F b) { return _mm512_sub_ps(a, b); }
    VELMORA_V F mul(F a, F b) { return _mm512_mul_ps(a, b); }
    VELMORA_V F div(F a, F b) { return _mm512_div_ps(a, b); }
    VELMORA_V F min(F a, F b) { return _mm512_min_ps(a, b); }
    VELMORA_V F max(F a, F b) { return _mm512_max_ps(a, b); }
    VELMORA_V F cvt(I v) { return _mm512_cvtepi32_ps(v); }
    VELMORA_V I cvtt(F v) { return _mm512_cvttps_epi32(v); }
    VELMORA_V M cmpgt(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_GT_OQ); }
    VELMORA_V M cmpge(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_GE_OQ); }
    VELMORA_V M cmple(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_LE_OQ); }
    VELMORA_V F select(M m, F ifSet, F otherwise) {
        return _mm512_mask_blend_ps(m, otherwise, ifSet);
    }
    VELMORA_V F keepWhere(F v, M m) { return _mm512_maskz_mov_ps(m, v); }
    VELMORA_V I incrementWhere(I t, M m) {
        return _mm512_mask_add_epi32(t, m, t, _mm512_set1_epi32(1));
    }
    VELMORA_V I andi(I a, I b) { return _mm512_and_si512(a, b); }
    VELMORA_V I ori(I a, I b) { return _mm512_or_si512(a, b); }
    template <int n> VELMORA_V I srli(I v) { return _mm512_srli_epi32(v, n); }
    template <int n> VELMORA_V I slli(I v) { return _mm512_slli_epi32(v, n); }
    VELMORA_V I loadi(const std::byte* p) { return _mm512_loadu_si512(p); }
    VELMORA_V void storei(std::byte* p, I v) { _mm512_storeu_si512(p, v); }
    VELMORA_V void streami(std::byte* p, I v) {
        _mm512_stream_si512(reinterpret_cast<__m512i*>(p), v);
    }
    // 1 / v to within 2^-23 relative: an estimate and one Newton step.
    VELMORA_V F reciprocal(F v) {
        const F r = _mm512_rcp14_ps(v);
        return _mm512_fmadd_ps(r, _mm512_fnmadd_ps(v, r, _mm512_set1_ps(1.0f)), r);
    }
    // Byte k of every 32-bit lane, zero extended.
    template <int k> VELMORA_V I byteOf(I v) {
        constexpr char z = char(0x80);
        const I pick = _mm512_broadcast_i32x4(
            _mm_setr_epi8(k, z, z, z, 4 + k, z, z, z, 8 + k, z, z, z, 12 + k, z, z, z));
        return _mm512_shuffle_epi8(v, pick);
    }
    VELMORA_V I bits(F v) { return _mm512_castps_si512(v); }
    VELMORA_V F abs(F v) { return _mm512_abs_ps(v); }
    VELMORA_V M both(M a, M b) { return _kand_mask16(a, b); }
    VELMORA_V bool any(M m) { return m != 0; }
    VELMORA_V I keepWherei(I v, M m) { return _mm512_maskz_mov_epi32(m, v); }
    VELMORA_V F loadf(const float* p) { return _mm512_loadu_ps(p); }
    VELMORA_V I minu(I a, I b) { return _mm512_min_epu32(a, b); }
    VELMORA_V I addi(I a, I b) { return _mm512_add_epi32(a, b); }
    VELMORA_V I subi(I a, I b) { return _mm512_sub_epi32(a, b); }
    // Bytewise sum, modulo 256.
    VELMORA_V I addBytes(I a, I b) { return _mm512_add_epi8(a, b); }
    // mask ? ifSet : otherwise, bit by bit.
    VELMORA_V I bitSelect(I mask, I ifSet, I otherwise) {
        return _mm512_ternarylogic_epi32(mask, ifSet, otherwise, 0xCA);
    }
    VELMORA_V M noLanes() { return 0; }
    VELMORA_V M either(M a, M b) { return _kor_mask16(a, b); }
    VELMORA_V bool all(M m) { return m == 0xFFFF; }
    // Lanes where v & mask is 0.
    VELMORA_V M noneOf(I v, I mask) { return _mm512_testn_epi32_mask(v, mask); }
    // Lanes whose top byte (alpha) is 255.
    VELMORA_V M opaque(I v) {
        return _mm512_cmpge_epu32_mask(v, _mm512_set1_epi32(int(0xFF000000u)));
    }
    VELMORA_V I selecti(M m, I ifSet, I otherwise) {
        return _mm512_mask_blend_epi32(m, otherwise, ifSet);
    }
    VELMORA_V I dropWherei(I v, M m) { return _mm512_maskz_mov_epi32(_knot_mask16(m), v); }
    // Every byte min(a + b, 255).
    VELMORA_V I addSaturated(I a, I b) { return _mm512_adds_epu8(a, b); }
    // a · b + c with one rounding.
    VELMORA_V F fmadd(F a, F b, F c) { return _mm512_fmadd_ps(a, b, c); }
    // The nearest whole number (halves to even).
    VELMORA_V I roundi(F v) { return _mm512_cvtps_epi32(v); }
    // 1 / v to within 2^-22 relative where m is set, else 0.
    VELMORA_V F reciprocalWhere(F v, M m) {
        const F r = _mm512_maskz_rcp14_ps(m, v);
        return _mm512_fmadd_ps(r, _mm512_fnmadd_ps(v, r, _mm512_set1_ps(1.0f)), r);
    }
    VELMORA_V void storef(float* p, F v) { _mm512_storeu_ps(p, v); }
};
} // namespace

#include "imaging/PixelKernelsSimd.inc"

} // namespace velmora::imaging::kernels::avx512

#else

namespace velmora::imaging::kernels::avx512 {
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
} // namespace velmora::imaging::kernels::avx512

#endif
