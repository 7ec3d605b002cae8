#include "imaging/PixelKernels.hpp"

#include "imaging/PixelKernelsSimd.hpp"

#include <algorithm>
#include <bit>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <cstring>

// Each hot loop is built twice, for AVX2 and the baseline, and picked at load
// time. FMA stays off (see CMakeLists) so both builds give identical bits.
// ThreadSanitizer cannot run the load-time resolvers (they run before it is
// set up), so its builds keep the baseline only.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define VELMORA_VECTORISED __attribute__((target_clones("avx2", "default")))
#else
#define VELMORA_VECTORISED
#endif
#define VELMORA_INLINE inline __attribute__((always_inline))

static_assert(std::endian::native == std::endian::little, "pixel packing assumes little endian");

namespace velmora::imaging::kernels {

namespace {

// v / 255 as two products: the first is exact for any byte, so the one
// rounding of the sum gives the correctly rounded quotient (checked for all
// 256 values by the tests).
constexpr double inv255 = 1.0 / 255.0;
constexpr float inv255Hi = float(double(int64_t(inv255 * double(1 << 19))) / double(1 << 19));
constexpr float inv255Lo = float(inv255 - double(inv255Hi));

VELMORA_INLINE float fromByte(uint32_t v) {
    const float f = float(int32_t(v));
    return f * inv255Hi + f * inv255Lo;
}

VELMORA_INLINE uint32_t toByte(float v) {
    const float c = v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
    const float x = c * 255.0f;
    const int32_t t = int32_t(x);
    return uint32_t(t + ((x - float(t)) >= 0.5f ? 1 : 0));
}

VELMORA_INLINE float clamp01(float v) {
    return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
}

// Selects around an unconditional division keep the loops branch-free.
VELMORA_INLINE float reciprocalOrZero(float a) {
    const float inv = 1.0f / (a > 0.0f ? a : 1.0f);
    return a > 0.0f ? inv : 0.0f;
}

VELMORA_INLINE void unpremultiplied(float& r, float& g, float& b, float a) {
    const float inv = reciprocalOrZero(a);
    r *= inv;
    g *= inv;
    b *= inv;
}

template <bool premultiply>
VELMORA_INLINE void loadRgba8Loop(const std::byte* __restrict src, size_t n,
                                  float* __restrict first, float* __restrict g,
                                  float* __restrict third, float* __restrict a) {
    for (size_t i = 0; i < n; ++i) {
        uint32_t p;
        std::memcpy(&p, src + 4 * i, 4);
        const float alpha = fromByte(p >> 24);
        const float k = premultiply ? alpha : 1.0f;
        first[i] = fromByte(p & 0xFFu) * k;
        g[i] = fromByte((p >> 8) & 0xFFu) * k;
        third[i] = fromByte((p >> 16) & 0xFFu) * k;
        a[i] = alpha;
    }
}

VELMORA_VECTORISED
void loadRgba8(const std::byte* src, size_t n, float* first, float* g, float* third, float* a) {
    loadRgba8Loop<false>(src, n, first, g, third, a);
}

VELMORA_VECTORISED
void loadRgba8Premultiplying(const std::byte* src, size_t n, float* first, float* g, float* third,
                             float* a) {
    loadRgba8Loop<true>(src, n, first, g, third, a);
}

VELMORA_VECTORISED
void loadRgba32f(const std::byte* __restrict src, size_t n, float* __restrict r,
                 float* __restrict g, float* __restrict b, float* __restrict a) {
    for (size_t i = 0; i < n; ++i) {
        float p[4];
        std::memcpy(p, src + 16 * i, 16);
        r[i] = p[0];
        g[i] = p[1];
        b[i] = p[2];
        a[i] = p[3];
    }
}

void loadRgba16f(const std::byte* src, size_t n, float* r, float* g, float* b, float* a) {
    for (size_t i = 0; i < n; ++i) {
        _Float16 p[4];
        std::memcpy(p, src + 8 * i, 8);
        r[i] = float(p[0]);
        g[i] = float(p[1]);
        b[i] = float(p[2]);
        a[i] = float(p[3]);
    }
}

template <StoredAlpha mode, bool bgra>
VELMORA_INLINE void storeRgba8Loop(const float* __restrict r, const float* __restrict g,
                                   const float* __restrict b, const float* __restrict a, size_t n,
                                   std::byte* __restrict dst) {
    constexpr unsigned firstShift = bgra ? 16 : 0, thirdShift = bgra ? 0 : 16;
    for (size_t i = 0; i < n; ++i) {
        float cr = r[i], cg = g[i], cb = b[i];
        if constexpr (mode == StoredAlpha::unpremultiplied) {
            unpremultiplied(cr, cg, cb, a[i]);
        }
        const uint32_t alpha = mode == StoredAlpha::none ? 255u : toByte(a[i]);
        const uint32_t p =
            toByte(cr) << firstShift | toByte(cg) << 8 | toByte(cb) << thirdShift | alpha << 24;
        std::memcpy(dst + 4 * i, &p, 4);
    }
}

template <StoredAlpha mode>
VELMORA_INLINE void storeRgba32fLoop(const float* __restrict r, const float* __restrict g,
                                     const float* __restrict b, const float* __restrict a, size_t n,
                                     std::byte* __restrict dst) {
    for (size_t i = 0; i < n; ++i) {
        float p[4] = {r[i], g[i], b[i], a[i]};
        if constexpr (mode == StoredAlpha::unpremultiplied) {
            unpremultiplied(p[0], p[1], p[2], p[3]);
        } else if constexpr (mode == StoredAlpha::none) {
            p[3] = 1.0f;
        }
        std::memcpy(dst + 16 * i, p, 16);
    }
}

#define VELMORA_STORE_FUNCTION(name, body)                                                         \
    VELMORA_VECTORISED void name(const float* r, const float* g, const float* b, const float* a,   \
                                 size_t n, std::byte* dst) {                                       \
        body(r, g, b, a, n, dst);                                                                  \
    }
VELMORA_STORE_FUNCTION(storeRgba8Straight, (storeRgba8Loop<StoredAlpha::unpremultiplied, false>))
VELMORA_STORE_FUNCTION(storeRgba8Premultiplied, (storeRgba8Loop<StoredAlpha::premultiplied, false>))
VELMORA_STORE_FUNCTION(storeRgba8Opaque, (storeRgba8Loop<StoredAlpha::none, false>))
VELMORA_STORE_FUNCTION(storeBgra8Straight, (storeRgba8Loop<StoredAlpha::unpremultiplied, true>))
VELMORA_STORE_FUNCTION(storeBgra8Premultiplied, (storeRgba8Loop<StoredAlpha::premultiplied, true>))
VELMORA_STORE_FUNCTION(storeBgra8Opaque, (storeRgba8Loop<StoredAlpha::none, true>))
VELMORA_STORE_FUNCTION(storeRgba32fStraight, storeRgba32fLoop<StoredAlpha::unpremultiplied>)
VELMORA_STORE_FUNCTION(storeRgba32fPremultiplied, storeRgba32fLoop<StoredAlpha::premultiplied>)
VELMORA_STORE_FUNCTION(storeRgba32fOpaque, storeRgba32fLoop<StoredAlpha::none>)
#undef VELMORA_STORE_FUNCTION

void storeRgba8(const float* r, const float* g, const float* b, const float* a, size_t n,
                StoredAlpha alpha, bool bgra, bool stream, std::byte* dst) {
    {
        if (bgra) {
            std::swap(r, b);
        }
        const size_t done =
            avx512::available() ? avx512::storeRgba8(r, g, b, a, n, alpha, stream, dst)
            : avx2::available() ? avx2::storeRgba8(r, g, b, a, n, alpha, stream, dst)
                                : 0;
        if (bgra) {
            std::swap(r, b);
        }
        r += done;
        g += done;
        b += done;
        a += done;
        dst += 4 * done;
        n -= done;
    }
    switch (alpha) {
    case StoredAlpha::unpremultiplied:
        return bgra ? storeBgra8Straight(r, g, b, a, n, dst)
                    : storeRgba8Straight(r, g, b, a, n, dst);
    case StoredAlpha::premultiplied:
        return bgra ? storeBgra8Premultiplied(r, g, b, a, n, dst)
                    : storeRgba8Premultiplied(r, g, b, a, n, dst);
    case StoredAlpha::none:
        return bgra ? storeBgra8Opaque(r, g, b, a, n, dst) : storeRgba8Opaque(r, g, b, a, n, dst);
    }
}

void storeRgba32f(const float* r, const float* g, const float* b, const float* a, size_t n,
                  StoredAlpha alpha, std::byte* dst) {
    switch (alpha) {
    case StoredAlpha::unpremultiplied:
        return storeRgba32fStraight(r, g, b, a, n, dst);
    case StoredAlpha::premultiplied:
        return storeRgba32fPremultiplied(r, g, b, a, n, dst);
    case StoredAlpha::none:
        return storeRgba32fOpaque(r, g, b, a, n, dst);
    }
}

void storeRgba16f(const float* r, const float* g, const float* b, const float* a, size_t n,
                  StoredAlpha alpha, std::byte* dst) {
    for (size_t i = 0; i < n; ++i) {
        float p[4] = {r[i], g[i], b[i], a[i]};
        if (alpha == StoredAlpha::unpremultiplied) {
            unpremultiplied(p[0], p[1], p[2], p[3]);
        } else if (alpha == StoredAlpha::none) {
            p[3] = 1.0f;
        }
        const _Float16 h[4] = {_Float16(p[0]), _Float16(p[1]), _Float16(p[2]), _Float16(p[3])};
        std::memcpy(dst + 8 * i, h, 8);
    }
}

// The separable modes share R = S(1−Da) + D(1−Sa) + Sa·Da·B(Cs, Cd). Each
// term below is Sa·Da·B written on premultiplied values, which needs no
// division: Sa·Da·Cs·Cd = S·D and so on.
template <BlendOp op> VELMORA_INLINE float separableTerm(float s, float d, float sa, float da) {
    if constexpr (op == BlendOp::multiply) {
        return s * d;
    } else if constexpr (op == BlendOp::overlay) {
        // Cd ≤ 0.5 ⇔ 2·D ≤ Da; with Da = 0 both sides are 0 and the first branch gives 0.
        const float low = 2.0f * s * d;
        const float high = sa * da - 2.0f * (sa - s) * (da - d);
        return 2.0f * d <= da ? low : high;
    } else if constexpr (op == BlendOp::linearBurn) {
        const float v = s * da + d * sa - sa * da;
        return v > 0.0f ? v : 0.0f;
    } else {
        const float v = s * da + d * sa;
        const float m = sa * da;
        return v < m ? v : m;
    }
}

template <BlendOp op>
VELMORA_INLINE void blendLoop(const float* __restrict s0, const float* __restrict s1,
                              const float* __restrict s2, const float* __restrict s3,
                              float* __restrict d0, float* __restrict d1, float* __restrict d2,
                              float* __restrict d3, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const float sa = s3[i], da = d3[i];
        if constexpr (op == BlendOp::sourceOver) {
            const float k = 1.0f - sa;
            d0[i] = s0[i] + d0[i] * k;
            d1[i] = s1[i] + d1[i] * k;
            d2[i] = s2[i] + d2[i] * k;
            d3[i] = sa + da * k;
        } else if constexpr (op == BlendOp::sourceOut) {
            const float k = 1.0f - da;
            d0[i] = s0[i] * k;
            d1[i] = s1[i] * k;
            d2[i] = s2[i] * k;
            d3[i] = sa * k;
        } else {
            const float ks = 1.0f - da, kd = 1.0f - sa;
            const float r = s0[i], g = s1[i], b = s2[i];
            const float dr = d0[i], dg = d1[i], db = d2[i];
            d0[i] = r * ks + dr * kd + separableTerm<op>(r, dr, sa, da);
            d1[i] = g * ks + dg * kd + separableTerm<op>(g, dg, sa, da);
            d2[i] = b * ks + db * kd + separableTerm<op>(b, db, sa, da);
            d3[i] = sa + da - sa * da;
        }
    }
}

#define VELMORA_BLEND_FUNCTION(name, op)                                                           \
    VELMORA_VECTORISED void name(const float* s0, const float* s1, const float* s2,                \
                                 const float* s3, float* d0, float* d1, float* d2, float* d3,      \
                                 size_t n) {                                                       \
        blendLoop<op>(s0, s1, s2, s3, d0, d1, d2, d3, n);                                          \
    }
VELMORA_BLEND_FUNCTION(blendSourceOver, BlendOp::sourceOver)
VELMORA_BLEND_FUNCTION(blendSourceOut, BlendOp::sourceOut)
VELMORA_BLEND_FUNCTION(blendMultiply, BlendOp::multiply)
VELMORA_BLEND_FUNCTION(blendOverlay, BlendOp::overlay)
VELMORA_BLEND_FUNCTION(blendLinearBurn, BlendOp::linearBurn)
VELMORA_BLEND_FUNCTION(blendLinearDodge, BlendOp::linearDodge)
#undef VELMORA_BLEND_FUNCTION

VELMORA_VECTORISED
void premultiplyLoop(float* __restrict r, float* __restrict g, float* __restrict b,
                     const float* __restrict a, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        r[i] *= a[i];
        g[i] *= a[i];
        b[i] *= a[i];
    }
}

VELMORA_VECTORISED
void unpremultiplyLoop(float* __restrict r, float* __restrict g, float* __restrict b,
                       const float* __restrict a, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const float inv = reciprocalOrZero(a[i]);
        r[i] *= inv;
        g[i] *= inv;
        b[i] *= inv;
    }
}

VELMORA_VECTORISED
void scaleLoop(float* __restrict p, size_t n, float k) {
    for (size_t i = 0; i < n; ++i) {
        p[i] *= k;
    }
}

VELMORA_VECTORISED
void colorMatrixLoop(float* __restrict r, float* __restrict g, float* __restrict b,
                     float* __restrict a, size_t n, const ColorMatrix& cm) {
    const ColorMatrix m = cm;
    for (size_t i = 0; i < n; ++i) {
        float c[4] = {r[i], g[i], b[i], a[i]};
        unpremultiplied(c[0], c[1], c[2], c[3]);
        float o[4];
        for (int k = 0; k < 4; ++k) {
            o[k] = m.m[k][0] * c[0] + m.m[k][1] * c[1] + m.m[k][2] * c[2] + m.m[k][3] * c[3] +
                   m.bias[k];
        }
        const float oa = clamp01(o[3]);
        r[i] = o[0] * oa;
        g[i] = o[1] * oa;
        b[i] = o[2] * oa;
        a[i] = oa;
    }
}

VELMORA_VECTORISED
void restoreStraightLoop(const std::byte* __restrict src, size_t n, std::byte* __restrict dst) {
    for (size_t i = 0; i < n; ++i) {
        uint32_t p;
        std::memcpy(&p, src + 4 * i, 4);
        p = (p >> 24) != 0 ? p : 0;
        std::memcpy(dst + 4 * i, &p, 4);
    }
}

} // namespace

void restoreStraightRgba8(const std::byte* src, size_t n, std::byte* dst, bool stream) {
#if defined(__x86_64__)
    if (stream && reinterpret_cast<uintptr_t>(dst) % 16 == 0) {
        // Written past the caches: the destination's lines are not read first.
        const __m128i alpha = _mm_set1_epi32(int(0xFF000000u));
        size_t i = 0;
        for (; i + 4 <= n; i += 4) {
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
            const __m128i clear = _mm_cmpeq_epi32(_mm_and_si128(p, alpha), _mm_setzero_si128());
            _mm_stream_si128(reinterpret_cast<__m128i*>(dst + 4 * i), _mm_andnot_si128(clear, p));
        }
        restoreStraightLoop(src + 4 * i, n - i, dst + 4 * i);
        return;
    }
#endif
    (void)stream;
    restoreStraightLoop(src, n, dst);
}

float unorm8ToFloat(uint8_t v) {
    return fromByte(v);
}
uint8_t floatToUnorm8(float v) {
    return uint8_t(toByte(v));
}

void loadRow(const std::byte* src, StorageFormat format, size_t n, bool premultiply, float* r,
             float* g, float* b, float* a) {
    if (format == StorageFormat::rgba8 || format == StorageFormat::bgra8) {
        float* first = format == StorageFormat::rgba8 ? r : b;
        float* third = format == StorageFormat::rgba8 ? b : r;
        const size_t done =
            avx512::available() ? avx512::loadRgba8(src, n, premultiply, first, g, third, a)
            : avx2::available() ? avx2::loadRgba8(src, n, premultiply, first, g, third, a)
                                : 0;
        src += 4 * done;
        r += done;
        g += done;
        b += done;
        a += done;
        n -= done;
    }
    switch (format) {
    case StorageFormat::rgba8:
        return premultiply ? loadRgba8Premultiplying(src, n, r, g, b, a)
                           : loadRgba8(src, n, r, g, b, a);
    case StorageFormat::bgra8:
        return premultiply ? loadRgba8Premultiplying(src, n, b, g, r, a)
                           : loadRgba8(src, n, b, g, r, a);
    case StorageFormat::rgba16Float:
        loadRgba16f(src, n, r, g, b, a);
        break;
    case StorageFormat::rgba32Float:
        loadRgba32f(src, n, r, g, b, a);
        break;
    }
    if (premultiply) {
        premultiplyLoop(r, g, b, a, n);
    }
}

void finishStreaming(bool stream) {
#if defined(__x86_64__)
    if (stream) {
        _mm_sfence(); // streamed stores become visible before the render reports done
    }
#else
    (void)stream;
#endif
}

void storeRow(const float* r, const float* g, const float* b, const float* a, size_t n,
              StorageFormat format, StoredAlpha alpha, std::byte* dst, bool stream) {
    switch (format) {
    case StorageFormat::rgba8:
        storeRgba8(r, g, b, a, n, alpha, false, stream, dst);
        finishStreaming(stream);
        return;
    case StorageFormat::bgra8:
        storeRgba8(r, g, b, a, n, alpha, true, stream, dst);
        finishStreaming(stream);
        return;
    case StorageFormat::rgba16Float:
        storeRgba16f(r, g, b, a, n, alpha, dst);
        return;
    case StorageFormat::rgba32Float:
        storeRgba32f(r, g, b, a, n, alpha, dst);
        return;
    }
}

void fill(const TileBuffer& t, const float rgba[4]) {
    for (int c = 0; c < 4; ++c) {
        float* p = t.planes[c];
        const float v = rgba[c];
        const size_t n = t.count();
        for (size_t i = 0; i < n; ++i) {
            p[i] = v;
        }
    }
}

void clear(const TileBuffer& t) {
    for (int c = 0; c < 4; ++c) {
        std::memset(t.planes[c], 0, t.count() * sizeof(float));
    }
}

void copy(const TileBuffer& from, int64_t fromX, int64_t fromY, const TileBuffer& to, int64_t toX,
          int64_t toY, int64_t width, int64_t height) {
    for (int c = 0; c < 4; ++c) {
        for (int64_t y = 0; y < height; ++y) {
            std::memcpy(to.row(c, toY + y) + toX, from.row(c, fromY + y) + fromX,
                        size_t(width) * sizeof(float));
        }
    }
}

void premultiply(const TileBuffer& t) {
    premultiplyLoop(t.planes[0], t.planes[1], t.planes[2], t.planes[3], t.count());
}

void unpremultiply(const TileBuffer& t) {
    unpremultiplyLoop(t.planes[0], t.planes[1], t.planes[2], t.planes[3], t.count());
}

void scale(const TileBuffer& t, float k) {
    for (int c = 0; c < 4; ++c) {
        scaleLoop(t.planes[c], t.count(), k);
    }
}

void colorMatrix(const TileBuffer& t, const ColorMatrix& m) {
    colorMatrixLoop(t.planes[0], t.planes[1], t.planes[2], t.planes[3], t.count(), m);
}

void blend(BlendOp op, const TileBuffer& f, const TileBuffer& d) {
    using Loop = void (*)(const float*, const float*, const float*, const float*, float*, float*,
                          float*, float*, size_t);
    Loop loop = nullptr;
    switch (op) {
    case BlendOp::sourceOver:
        loop = blendSourceOver;
        break;
    case BlendOp::sourceOut:
        loop = blendSourceOut;
        break;
    case BlendOp::multiply:
        loop = blendMultiply;
        break;
    case BlendOp::overlay:
        loop = blendOverlay;
        break;
    case BlendOp::linearBurn:
        loop = blendLinearBurn;
        break;
    case BlendOp::linearDodge:
        loop = blendLinearDodge;
        break;
    }
    loop(f.planes[0], f.planes[1], f.planes[2], f.planes[3], d.planes[0], d.planes[1], d.planes[2],
         d.planes[3], d.count());
}

void blendRowRgba8(BlendOp op, const RowInput& fg, const RowInput& bg, size_t n, StoredAlpha alpha,
                   std::byte* dst, bool stream) {
    size_t done = 0;
    if (avx512::available()) {
        done = avx512::blendRgba8(op, fg, bg, n, alpha, stream, dst);
    } else if (avx2::available()) {
        done = avx2::blendRgba8(op, fg, bg, n, alpha, stream, dst);
    }
    constexpr size_t chunk = 64;
    alignas(64) float s[4][chunk], d[4][chunk];
    while (done < n) {
        const size_t m = std::min(chunk, n - done);
        const TileBuffer ts{{s[0], s[1], s[2], s[3]}, int64_t(m), 1};
        const TileBuffer td{{d[0], d[1], d[2], d[3]}, int64_t(m), 1};
        loadRow(fg.pixels + 4 * done, StorageFormat::rgba8, m, fg.premultiply, s[0], s[1], s[2],
                s[3]);
        loadRow(bg.pixels + 4 * done, StorageFormat::rgba8, m, bg.premultiply, d[0], d[1], d[2],
                d[3]);
        if (fg.scale != 1.0f) {
            scale(ts, fg.scale);
        }
        if (bg.scale != 1.0f) {
            scale(td, bg.scale);
        }
        blend(op, ts, td);
        storeRow(d[0], d[1], d[2], d[3], m, StorageFormat::rgba8, alpha, dst + 4 * done);
        done += m;
    }
}

} // namespace velmora::imaging::kernels
