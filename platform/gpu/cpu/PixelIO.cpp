#include "gpu/cpu/PixelIO.hpp"

#include <array>
#include <cmath>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#include <immintrin.h>
#endif

namespace velmora::cpu {

std::optional<PixelLayout> pixelLayout(MTLPixelFormat format) {
    using K = PixelLayout::Kind;
    switch (format) {
    case MTLPixelFormat::a8Unorm:
        return PixelLayout{K::unorm8, 1, 1, false, true, false};
    case MTLPixelFormat::r8Unorm:
        return PixelLayout{K::unorm8, 1, 1};
    case MTLPixelFormat::rg8Unorm:
        return PixelLayout{K::unorm8, 2, 2};
    case MTLPixelFormat::rgba8Unorm:
        return PixelLayout{K::unorm8, 4, 4};
    case MTLPixelFormat::rgba8Unorm_srgb:
        return PixelLayout{K::unorm8, 4, 4, false, false, true};
    case MTLPixelFormat::bgra8Unorm:
        return PixelLayout{K::unorm8, 4, 4, true};
    case MTLPixelFormat::bgra8Unorm_srgb:
        return PixelLayout{K::unorm8, 4, 4, true, false, true};
    case MTLPixelFormat::r16Unorm:
        return PixelLayout{K::unorm16, 1, 2};
    case MTLPixelFormat::rgba16Unorm:
        return PixelLayout{K::unorm16, 4, 8};
    case MTLPixelFormat::r16Float:
        return PixelLayout{K::float16, 1, 2};
    case MTLPixelFormat::rg16Float:
        return PixelLayout{K::float16, 2, 4};
    case MTLPixelFormat::rgba16Float:
        return PixelLayout{K::float16, 4, 8};
    case MTLPixelFormat::r32Float:
        return PixelLayout{K::float32, 1, 4};
    case MTLPixelFormat::rg32Float:
        return PixelLayout{K::float32, 2, 8};
    case MTLPixelFormat::rgba32Float:
        return PixelLayout{K::float32, 4, 16};
    default:
        return std::nullopt;
    }
}

float srgbToLinear(float v) {
    return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f);
}

float linearToSrgb(float v) {
    v = v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
    return v <= 0.0031308f ? v * 12.92f : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f;
}

namespace {

const std::array<float, 256>& unorm8Table() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        for (int i = 0; i < 256; ++i) {
            t[i] = static_cast<float>(i) / 255.0f;
        }
        return t;
    }();
    return table;
}

const std::array<float, 256>& srgb8Table() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        for (int i = 0; i < 256; ++i) {
            t[i] = srgbToLinear(static_cast<float>(i) / 255.0f);
        }
        return t;
    }();
    return table;
}

// Position of stored component c in RGBA.
int rgbaIndex(const PixelLayout& l, int c) {
    if (l.alphaOnly) {
        return 3;
    }
    if (l.bgra && c < 3) {
        return 2 - c;
    }
    return c;
}

inline float load(const PixelLayout& l, const uint8_t* p, int c) {
    switch (l.kind) {
    case PixelLayout::Kind::unorm8:
        return unorm8Table()[p[c]];
    case PixelLayout::Kind::unorm16: {
        uint16_t v;
        std::memcpy(&v, p + 2 * c, 2);
        return static_cast<float>(v) / 65535.0f;
    }
    case PixelLayout::Kind::float16: {
        _Float16 v;
        std::memcpy(&v, p + 2 * c, 2);
        return static_cast<float>(v);
    }
    case PixelLayout::Kind::float32: {
        float v;
        std::memcpy(&v, p + 4 * c, 4);
        return v;
    }
    }
    return 0;
}

inline void store(const PixelLayout& l, uint8_t* p, int c, float v) {
    switch (l.kind) {
    case PixelLayout::Kind::unorm8:
        p[c] = unorm8(v);
        return;
    case PixelLayout::Kind::unorm16: {
        v = v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
        const auto u = static_cast<uint16_t>(static_cast<int>(v * 65535.0f + 0.5f));
        std::memcpy(p + 2 * c, &u, 2);
        return;
    }
    case PixelLayout::Kind::float16: {
        const auto h = static_cast<_Float16>(v);
        std::memcpy(p + 2 * c, &h, 2);
        return;
    }
    case PixelLayout::Kind::float32:
        std::memcpy(p + 4 * c, &v, 4);
        return;
    }
}

} // namespace

void loadRow(const PixelLayout& l, const uint8_t* src, float* rgba, int64_t n) {
    using K = PixelLayout::Kind;
    if (l.kind == K::float32 && l.channels == 4) {
        std::memcpy(rgba, src, static_cast<size_t>(n) * 16);
        return;
    }
    if (l.kind == K::unorm8 && l.channels == 4) {
        const auto& t = l.srgb ? srgb8Table() : unorm8Table();
        const int r = l.bgra ? 2 : 0, b = l.bgra ? 0 : 2;
        for (int64_t i = 0; i < n; ++i) {
            const uint8_t* p = src + 4 * i;
            float* o = rgba + 4 * i;
            o[0] = t[p[r]];
            o[1] = t[p[1]];
            o[2] = t[p[b]];
            o[3] = unorm8Table()[p[3]];
        }
        return;
    }
    for (int64_t i = 0; i < n; ++i) {
        float* o = rgba + 4 * i;
        o[0] = o[1] = o[2] = 0.0f;
        o[3] = 1.0f;
        const uint8_t* p = src + l.bytesPerPixel * i;
        for (int c = 0; c < l.channels; ++c) {
            o[rgbaIndex(l, c)] = load(l, p, c);
        }
    }
}

namespace {

constexpr int64_t kStreamingPixels = 1024;

#if defined(__x86_64__) && defined(__GNUC__)
// The same rounding as unorm8, eight pixels at a time: the packs work within
// 128-bit halves, so the pixels come out 0 2 4 6 1 3 5 7 and are put back in order.
__attribute__((target("avx2"))) inline __m256i unorm8Avx2(const float* p, bool bgra) {
    __m256 v = _mm256_loadu_ps(p);
    if (bgra) {
        v = _mm256_shuffle_ps(v, v, _MM_SHUFFLE(3, 0, 1, 2));
    }
    // max(v, 0) gives 0 for NaN, as unorm8 does.
    v = _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(1.0f));
    return _mm256_cvttps_epi32(
        _mm256_add_ps(_mm256_mul_ps(v, _mm256_set1_ps(255.0f)), _mm256_set1_ps(0.5f)));
}

// `stream` needs `dst` on a 32-byte boundary.
__attribute__((target("avx2"))) int64_t storeRGBA8Avx2(const float* rgba, uint8_t* dst, int64_t n,
                                                       bool bgra, bool stream) {
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    int64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const float* p = rgba + 4 * i;
        const __m256i words = _mm256_permutevar8x32_epi32(
            _mm256_packus_epi16(
                _mm256_packs_epi32(unorm8Avx2(p, bgra), unorm8Avx2(p + 8, bgra)),
                _mm256_packs_epi32(unorm8Avx2(p + 16, bgra), unorm8Avx2(p + 24, bgra))),
            order);
        auto* out = reinterpret_cast<__m256i*>(dst + 4 * i);
        if (stream) {
            _mm256_stream_si256(out, words);
        } else {
            _mm256_storeu_si256(out, words);
        }
    }
    if (stream) {
        _mm_sfence();
    }
    return i;
}

bool hasAvx2() {
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
}
#endif

// The same rounding as unorm8, four pixels at a time; `bgra` swaps red and blue.
int64_t storeRGBA8Vector(const float* rgba, uint8_t* dst, int64_t n, bool bgra = false) {
#if defined(__x86_64__) && defined(__GNUC__)
    const bool stream = n >= kStreamingPixels;
    if (hasAvx2() && (!stream || reinterpret_cast<uintptr_t>(dst) % 32 == 0)) {
        // Long rows bypass the cache: nothing reads them back soon.
        return storeRGBA8Avx2(rgba, dst, n, bgra, stream);
    }
#endif
#ifdef __SSE2__
    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
    const __m128 scale = _mm_set1_ps(255.0f), half = _mm_set1_ps(0.5f);
    auto convert = [&](const float* p) {
        __m128 v = _mm_loadu_ps(p);
        if (bgra) {
            v = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 0, 1, 2));
        }
        // max(v, 0) gives 0 for NaN, as unorm8 does.
        v = _mm_min_ps(_mm_max_ps(v, zero), one);
        return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(v, scale), half));
    };
    auto pixels = [&](int64_t i) {
        const float* p = rgba + 4 * i;
        return _mm_packus_epi16(_mm_packs_epi32(convert(p), convert(p + 4)),
                                _mm_packs_epi32(convert(p + 8), convert(p + 12)));
    };
    int64_t i = 0;
    if (n >= kStreamingPixels && reinterpret_cast<uintptr_t>(dst) % 16 == 0) {
        // Long rows bypass the cache: nothing reads them back soon.
        for (; i + 4 <= n; i += 4) {
            _mm_stream_si128(reinterpret_cast<__m128i*>(dst + 4 * i), pixels(i));
        }
        _mm_sfence();
        return i;
    }
    for (; i + 4 <= n; i += 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i), pixels(i));
    }
    return i;
#else
    (void)rgba;
    (void)dst;
    (void)n;
    (void)bgra;
    return 0;
#endif
}

} // namespace

void storeRow(const PixelLayout& l, const float* rgba, uint8_t* dst, int64_t n) {
    using K = PixelLayout::Kind;
    if (l.kind == K::float32 && l.channels == 4) {
        std::memcpy(dst, rgba, static_cast<size_t>(n) * 16);
        return;
    }
    if (l.kind == K::unorm8 && l.channels == 4 && !l.srgb) {
        if (!l.bgra) {
            for (int64_t i = 4 * storeRGBA8Vector(rgba, dst, n); i < 4 * n; ++i) {
                dst[i] = unorm8(rgba[i]);
            }
        } else {
            for (int64_t i = storeRGBA8Vector(rgba, dst, n, true); i < n; ++i) {
                const float* s = rgba + 4 * i;
                uint8_t* p = dst + 4 * i;
                p[0] = unorm8(s[2]);
                p[1] = unorm8(s[1]);
                p[2] = unorm8(s[0]);
                p[3] = unorm8(s[3]);
            }
        }
        return;
    }
    for (int64_t i = 0; i < n; ++i) {
        const float* s = rgba + 4 * i;
        uint8_t* p = dst + l.bytesPerPixel * i;
        for (int c = 0; c < l.channels; ++c) {
            const int k = rgbaIndex(l, c);
            store(l, p, c, l.srgb && k < 3 ? linearToSrgb(s[k]) : s[k]);
        }
    }
}

} // namespace velmora::cpu
