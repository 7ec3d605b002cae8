#include "imaging/PixelKernelsAvx2.hpp"

#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

#define VELMORA_AVX2 __attribute__((target("avx2")))
#define VELMORA_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

namespace velmora::imaging::kernels::avx2 {

namespace {
// Must match the portable v / 255 (see PixelKernels.cpp).
constexpr double inv255 = 1.0 / 255.0;
constexpr float inv255Hi = float(double(int64_t(inv255 * double(1 << 19))) / double(1 << 19));
constexpr float inv255Lo = float(inv255 - double(inv255Hi));

struct Pixels {
    __m256 c0, c1, c2, a;
};

VELMORA_AVX2_INLINE __m256 fromBytes(__m256i v) {
    const __m256 f = _mm256_cvtepi32_ps(v);
    return _mm256_add_ps(_mm256_mul_ps(f, _mm256_set1_ps(inv255Hi)),
                         _mm256_mul_ps(f, _mm256_set1_ps(inv255Lo)));
}

// round(clamp(v, 0, 1) · 255) with halves away from zero; NaN gives 0 since
// max returns its second operand for NaN.
VELMORA_AVX2_INLINE __m256i toBytes(__m256 v) {
    const __m256 c = _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(1.0f));
    const __m256 x = _mm256_mul_ps(c, _mm256_set1_ps(255.0f));
    const __m256i t = _mm256_cvttps_epi32(x);
    const __m256 frac = _mm256_sub_ps(x, _mm256_cvtepi32_ps(t));
    const __m256i up = _mm256_castps_si256(_mm256_cmp_ps(frac, _mm256_set1_ps(0.5f), _CMP_GE_OQ));
    return _mm256_sub_epi32(t, up);
}

VELMORA_AVX2_INLINE Pixels load8(const std::byte* src, bool premultiply) {
    const __m256i mask = _mm256_set1_epi32(0xFF);
    const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    Pixels px;
    px.a = fromBytes(_mm256_srli_epi32(p, 24));
    px.c0 = fromBytes(_mm256_and_si256(p, mask));
    px.c1 = fromBytes(_mm256_and_si256(_mm256_srli_epi32(p, 8), mask));
    px.c2 = fromBytes(_mm256_and_si256(_mm256_srli_epi32(p, 16), mask));
    if (premultiply) {
        px.c0 = _mm256_mul_ps(px.c0, px.a);
        px.c1 = _mm256_mul_ps(px.c1, px.a);
        px.c2 = _mm256_mul_ps(px.c2, px.a);
    }
    return px;
}

VELMORA_AVX2_INLINE void store8(Pixels px, StoredAlpha alpha, std::byte* dst) {
    const __m256 one = _mm256_set1_ps(1.0f), zero = _mm256_setzero_ps();
    if (alpha == StoredAlpha::unpremultiplied) {
        const __m256 positive = _mm256_cmp_ps(px.a, zero, _CMP_GT_OQ);
        const __m256 inv =
            _mm256_and_ps(_mm256_div_ps(one, _mm256_blendv_ps(one, px.a, positive)), positive);
        px.c0 = _mm256_mul_ps(px.c0, inv);
        px.c1 = _mm256_mul_ps(px.c1, inv);
        px.c2 = _mm256_mul_ps(px.c2, inv);
    }
    const __m256i ai = alpha == StoredAlpha::none ? _mm256_set1_epi32(255) : toBytes(px.a);
    const __m256i p = _mm256_or_si256(
        _mm256_or_si256(toBytes(px.c0), _mm256_slli_epi32(toBytes(px.c1), 8)),
        _mm256_or_si256(_mm256_slli_epi32(toBytes(px.c2), 16), _mm256_slli_epi32(ai, 24)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), p);
}

// The same operations, in the same order, as the portable blend loops.
template <BlendOp op>
VELMORA_AVX2_INLINE __m256 separableTerm(__m256 s, __m256 d, __m256 sa, __m256 da) {
    if constexpr (op == BlendOp::multiply) {
        return _mm256_mul_ps(s, d);
    } else if constexpr (op == BlendOp::overlay) {
        const __m256 two = _mm256_set1_ps(2.0f);
        const __m256 low = _mm256_mul_ps(_mm256_mul_ps(two, s), d);
        const __m256 high = _mm256_sub_ps(
            _mm256_mul_ps(sa, da),
            _mm256_mul_ps(_mm256_mul_ps(two, _mm256_sub_ps(sa, s)), _mm256_sub_ps(da, d)));
        const __m256 lowSide = _mm256_cmp_ps(_mm256_mul_ps(two, d), da, _CMP_LE_OQ);
        return _mm256_blendv_ps(high, low, lowSide);
    } else if constexpr (op == BlendOp::linearBurn) {
        const __m256 v = _mm256_sub_ps(_mm256_add_ps(_mm256_mul_ps(s, da), _mm256_mul_ps(d, sa)),
                                       _mm256_mul_ps(sa, da));
        return _mm256_max_ps(v, _mm256_setzero_ps());
    } else {
        const __m256 v = _mm256_add_ps(_mm256_mul_ps(s, da), _mm256_mul_ps(d, sa));
        return _mm256_min_ps(v, _mm256_mul_ps(sa, da));
    }
}

template <BlendOp op>
VELMORA_AVX2_INLINE __m256 separableChannel(__m256 sc, __m256 dc, __m256 sa, __m256 da, __m256 ks,
                                            __m256 kd) {
    return _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(sc, ks), _mm256_mul_ps(dc, kd)),
                         separableTerm<op>(sc, dc, sa, da));
}

template <BlendOp op> VELMORA_AVX2_INLINE Pixels blend8(const Pixels& s, const Pixels& d) {
    const __m256 one = _mm256_set1_ps(1.0f);
    Pixels r;
    if constexpr (op == BlendOp::sourceOver) {
        const __m256 k = _mm256_sub_ps(one, s.a);
        r.c0 = _mm256_add_ps(s.c0, _mm256_mul_ps(d.c0, k));
        r.c1 = _mm256_add_ps(s.c1, _mm256_mul_ps(d.c1, k));
        r.c2 = _mm256_add_ps(s.c2, _mm256_mul_ps(d.c2, k));
        r.a = _mm256_add_ps(s.a, _mm256_mul_ps(d.a, k));
    } else if constexpr (op == BlendOp::sourceOut) {
        const __m256 k = _mm256_sub_ps(one, d.a);
        r.c0 = _mm256_mul_ps(s.c0, k);
        r.c1 = _mm256_mul_ps(s.c1, k);
        r.c2 = _mm256_mul_ps(s.c2, k);
        r.a = _mm256_mul_ps(s.a, k);
    } else {
        const __m256 ks = _mm256_sub_ps(one, d.a), kd = _mm256_sub_ps(one, s.a);
        r.c0 = separableChannel<op>(s.c0, d.c0, s.a, d.a, ks, kd);
        r.c1 = separableChannel<op>(s.c1, d.c1, s.a, d.a, ks, kd);
        r.c2 = separableChannel<op>(s.c2, d.c2, s.a, d.a, ks, kd);
        r.a = _mm256_sub_ps(_mm256_add_ps(s.a, d.a), _mm256_mul_ps(s.a, d.a));
    }
    return r;
}

template <BlendOp op>
VELMORA_AVX2 size_t blendLoop(const std::byte* fg, bool pf, const std::byte* bg, bool pb, size_t n,
                              StoredAlpha alpha, std::byte* dst) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        store8(blend8<op>(load8(fg + 4 * i, pf), load8(bg + 4 * i, pb)), alpha, dst + 4 * i);
    }
    return i;
}
} // namespace

bool available() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

VELMORA_AVX2 size_t loadRgba8(const std::byte* src, size_t n, bool premultiply, float* first,
                              float* g, float* third, float* a) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const Pixels px = load8(src + 4 * i, premultiply);
        _mm256_storeu_ps(first + i, px.c0);
        _mm256_storeu_ps(g + i, px.c1);
        _mm256_storeu_ps(third + i, px.c2);
        _mm256_storeu_ps(a + i, px.a);
    }
    return i;
}

VELMORA_AVX2 size_t storeRgba8(const float* first, const float* g, const float* third,
                               const float* a, size_t n, StoredAlpha alpha, std::byte* dst) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        store8({_mm256_loadu_ps(first + i), _mm256_loadu_ps(g + i), _mm256_loadu_ps(third + i),
                _mm256_loadu_ps(a + i)},
               alpha, dst + 4 * i);
    }
    return i;
}

size_t blendRgba8(BlendOp op, const std::byte* fg, bool pf, const std::byte* bg, bool pb, size_t n,
                  StoredAlpha alpha, std::byte* dst) {
    switch (op) {
    case BlendOp::sourceOver:
        return blendLoop<BlendOp::sourceOver>(fg, pf, bg, pb, n, alpha, dst);
    case BlendOp::sourceOut:
        return blendLoop<BlendOp::sourceOut>(fg, pf, bg, pb, n, alpha, dst);
    case BlendOp::multiply:
        return blendLoop<BlendOp::multiply>(fg, pf, bg, pb, n, alpha, dst);
    case BlendOp::overlay:
        return blendLoop<BlendOp::overlay>(fg, pf, bg, pb, n, alpha, dst);
    case BlendOp::linearBurn:
        return blendLoop<BlendOp::linearBurn>(fg, pf, bg, pb, n, alpha, dst);
    case BlendOp::linearDodge:
        return blendLoop<BlendOp::linearDodge>(fg, pf, bg, pb, n, alpha, dst);
    }
    return 0;
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
size_t blendRgba8(BlendOp, const std::byte*, bool, const std::byte*, bool, size_t, StoredAlpha,
                  std::byte*) {
    return 0;
}
} // namespace velmora::imaging::kernels::avx2

#endif
