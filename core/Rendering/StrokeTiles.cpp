#include "Rendering/StrokeTiles.hpp"

#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "MetalExtensions/MTLTextureExtensions.hpp"
#include "foundation/CheckedMath.hpp"
#include "foundation/FatalError.hpp"
#include "gpu/cpu/PixelIO.hpp"
#include "gpu/cpu/Workers.hpp"

#include <algorithm>
#include <climits>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// The blend loop is built for AVX2 and the baseline and picked at load time;
// neither has fused multiply-add, so both round like the image graph's loops.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define VELMORA_VECTORISED __attribute__((target_clones("avx2", "default")))
#else
#define VELMORA_VECTORISED
#endif

namespace velmora {

namespace {

// Straight RGBA floats: the stroke `s` blended into `d`, as the image graph does
// it: both premultiplied, source-over (or source-out with the layer as source for
// the eraser), then stored unpremultiplied (nothing where the alpha is 0).
VELMORA_VECTORISED void blendSpan(float* __restrict d, const float* __restrict s, int64_t n,
                                  bool erasing) {
    for (int64_t i = 0; i < n; ++i) {
        float* p = d + 4 * i;
        const float* q = s + 4 * i;
        const float sa = q[3], da = p[3];
        const float k = 1.0f - sa;
        float o[4];
        if (erasing) {
            for (int c = 0; c < 3; ++c) {
                o[c] = (p[c] * da) * k;
            }
            o[3] = da * k;
        } else {
            for (int c = 0; c < 3; ++c) {
                o[c] = q[c] * sa + (p[c] * da) * k;
            }
            o[3] = sa + da * k;
        }
        const float inv = 1.0f / (o[3] > 0.0f ? o[3] : 1.0f);
        const float r = o[3] > 0.0f ? inv : 0.0f;
        p[0] = o[0] * r;
        p[1] = o[1] * r;
        p[2] = o[2] * r;
        p[3] = o[3];
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
#define VELMORA_AVX2_FINISH 1

// Eight pixels of interleaved RGBA as four planes, lanes holding pixels 0 2 4 6 1 3 5 7.
struct Planes {
    __m256 r, g, b, a;
};

__attribute__((target("avx2"))) inline Planes toPlanes(const float* p) {
    const __m256 p01 = _mm256_loadu_ps(p), p23 = _mm256_loadu_ps(p + 8);
    const __m256 p45 = _mm256_loadu_ps(p + 16), p67 = _mm256_loadu_ps(p + 24);
    const __m256 t0 = _mm256_unpacklo_ps(p01, p23), t1 = _mm256_unpackhi_ps(p01, p23);
    const __m256 t2 = _mm256_unpacklo_ps(p45, p67), t3 = _mm256_unpackhi_ps(p45, p67);
    return {_mm256_shuffle_ps(t0, t2, 0x44), _mm256_shuffle_ps(t0, t2, 0xEE),
            _mm256_shuffle_ps(t1, t3, 0x44), _mm256_shuffle_ps(t1, t3, 0xEE)};
}

__attribute__((target("avx2"))) inline void fromPlanes(const Planes& v, float* p) {
    const __m256 t0 = _mm256_unpacklo_ps(v.r, v.g), t1 = _mm256_unpacklo_ps(v.b, v.a);
    const __m256 t2 = _mm256_unpackhi_ps(v.r, v.g), t3 = _mm256_unpackhi_ps(v.b, v.a);
    _mm256_storeu_ps(p, _mm256_shuffle_ps(t0, t1, 0x44));
    _mm256_storeu_ps(p + 8, _mm256_shuffle_ps(t0, t1, 0xEE));
    _mm256_storeu_ps(p + 16, _mm256_shuffle_ps(t2, t3, 0x44));
    _mm256_storeu_ps(p + 24, _mm256_shuffle_ps(t2, t3, 0xEE));
}

// A layer channel's premultiplied part left under the stroke.
__attribute__((target("avx2"))) inline __m256 under(__m256 c, __m256 alpha, __m256 k) {
    return _mm256_mul_ps(_mm256_mul_ps(c, alpha), k);
}

// blendSpan eight pixels at a time in planes, operation for operation the same
// arithmetic; returns how many pixels it did.
__attribute__((target("avx2"))) int64_t
blendSpanAvx2(float* __restrict d, const float* __restrict s, int64_t n, bool erasing) {
    const __m256 one = _mm256_set1_ps(1.0f), zero = _mm256_setzero_ps();
    int64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const Planes q = toPlanes(s + 4 * i);
        Planes p = toPlanes(d + 4 * i);
        const __m256 k = _mm256_sub_ps(one, q.a);
        __m256 r, g, b, a;
        if (erasing) {
            r = under(p.r, p.a, k), g = under(p.g, p.a, k), b = under(p.b, p.a, k);
            a = _mm256_mul_ps(p.a, k);
        } else {
            r = _mm256_add_ps(_mm256_mul_ps(q.r, q.a), under(p.r, p.a, k));
            g = _mm256_add_ps(_mm256_mul_ps(q.g, q.a), under(p.g, p.a, k));
            b = _mm256_add_ps(_mm256_mul_ps(q.b, q.a), under(p.b, p.a, k));
            a = _mm256_add_ps(q.a, _mm256_mul_ps(p.a, k));
        }
        const __m256 covered = _mm256_cmp_ps(a, zero, _CMP_GT_OQ);
        const __m256 scale =
            _mm256_and_ps(covered, _mm256_div_ps(one, _mm256_blendv_ps(one, a, covered)));
        p.r = _mm256_mul_ps(r, scale);
        p.g = _mm256_mul_ps(g, scale);
        p.b = _mm256_mul_ps(b, scale);
        p.a = a;
        fromPlanes(p, d + 4 * i);
    }
    return i;
}

bool hasAvx2() {
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
}
#endif

// The stroke blended into a span of the destination, eight pixels at a time where
// the processor allows.
void blendRow(float* d, const float* s, int64_t n, bool erasing) {
    int64_t done = 0;
#ifdef VELMORA_AVX2_FINISH
    if (hasAvx2()) {
        done = blendSpanAvx2(d, s, n, erasing);
    }
#endif
    blendSpan(d + 4 * done, s + 4 * done, n - done, erasing);
}

} // namespace

StrokeTiles::StrokeTiles(const MTLSize& canvasSize)
    : columns_((canvasSize.width + tileSide - 1) / tileSide),
      rows_((canvasSize.height + tileSide - 1) / tileSide), marks_(size_t(columns_ * rows_), 0) {}

void StrokeTiles::mark(const MTLRegion& region) {
    // The region inside the tiles, worked out inline: called for every dot.
    const int64_t x0 = std::max<int64_t>(region.origin.x, 0);
    const int64_t y0 = std::max<int64_t>(region.origin.y, 0);
    const int64_t x1 =
        std::min(checked::add(region.origin.x, region.size.width), columns_ * tileSide);
    const int64_t y1 =
        std::min(checked::add(region.origin.y, region.size.height), rows_ * tileSide);
    const int64_t z1 = checked::add(region.origin.z, region.size.depth);
    if (x0 >= x1 || y0 >= y1 || region.origin.z > 0 || z1 <= 0) {
        return;
    }
    const int64_t c0 = x0 / tileSide, c1 = (x1 - 1) / tileSide;
    const int64_t r0 = y0 / tileSide, r1 = (y1 - 1) / tileSide;
    if (c0 >= last_.c0 && c1 <= last_.c1 && r0 >= last_.r0 && r1 <= last_.r1) {
        return;
    }
    last_ = {c0, c1, r0, r1};
    for (int64_t r = r0; r <= r1; ++r) {
        std::fill(marks_.begin() + r * columns_ + c0, marks_.begin() + r * columns_ + c1 + 1, 1);
    }
}

bool StrokeTiles::isMarked(int64_t column, int64_t row) const {
    return column >= 0 && row >= 0 && column < columns_ && row < rows_ &&
           marks_[size_t(row * columns_ + column)] != 0;
}

std::vector<MTLRegion> StrokeTiles::markedRuns(const MTLRegion& region) const {
    std::vector<MTLRegion> runs;
    for (int64_t r = 0; r < rows_; ++r) {
        for (int64_t c = 0; c < columns_;) {
            if (!isMarked(c, r)) {
                ++c;
                continue;
            }
            const int64_t first = c;
            while (isMarked(c, r)) {
                ++c;
            }
            const MTLRegion run =
                makeMTLRegion(first * tileSide, r * tileSide, (c - first) * tileSide, tileSide);
            if (const auto inside = intersection(run, region)) {
                runs.push_back(*inside);
            }
        }
    }
    return runs;
}

void StrokeTiles::clear() {
    std::fill(marks_.begin(), marks_.end(), 0);
    last_ = {};
}

std::vector<MTLRegion> StrokeTiles::tileByTile(const std::vector<MTLRegion>& runs) {
    std::vector<MTLRegion> pieces;
    for (const MTLRegion& run : runs) {
        const int64_t x1 = run.origin.x + run.size.width;
        for (int64_t x = run.origin.x; x < x1;) {
            const int64_t end = std::min(x1, (x / tileSide + 1) * tileSide);
            pieces.push_back({{x, run.origin.y, run.origin.z}, {end - x, run.size.height, 1}});
            x = end;
        }
    }
    return pieces;
}

MTLSize StrokeTiles::packedSize(const std::vector<MTLRegion>& runs) {
    int64_t width = 1, height = 0;
    for (const MTLRegion& run : runs) {
        width = std::max(width, run.size.width);
        height += run.size.height;
    }
    return {width, std::max<int64_t>(height, 1), 1};
}

void StrokeTiles::encodeFinish(const std::shared_ptr<MTLTexture>& stroke,
                               const std::shared_ptr<MTLTexture>& destination,
                               const std::vector<MTLRegion>& runs, bool erasing,
                               const std::shared_ptr<NSBitmapImageRep>& before,
                               const std::shared_ptr<NSBitmapImageRep>& after,
                               MTLCommandBuffer& commandBuffer) {
    const MTLSize packed = packedSize(runs);
    const auto isPackedPicture = [&](const NSBitmapImageRep& b) {
        return b.pixelsWide() == packed.width && b.pixelsHigh() == packed.height &&
               b.bitsPerPixel() == 32 && b.bytesPerRow() >= packed.width * 4;
    };
    precondition(stroke->pixelFormat() == MTLPixelFormat::rgba32Float &&
                     destination->pixelFormat() == MTLPixelFormat::rgba32Float &&
                     isPackedPicture(*before) && isPackedPicture(*after),
                 "Finishing a stroke needs float stroke and destination, 8-bit packed snapshots");
    // The runs of one tile row share its rows: each band of rows finds its runs,
    // and where they go in the packed pictures, by the tile row.
    struct Row {
        size_t first = 0, end = 0; // runs [first, end)
    };
    const MTLRegion canvas{MTLOriginZero, size(*destination)};
    std::vector<Row> rows(static_cast<size_t>(rows_));
    std::vector<int64_t> packedRow(runs.size());
    int64_t y0 = INT64_MAX, y1 = INT64_MIN, height = 0;
    for (size_t i = 0; i < runs.size(); ++i) {
        const MTLRegion& run = runs[i];
        precondition(contains(canvas, run) && run.size.height <= tileSide &&
                         run.origin.y / tileSide == (run.origin.y + run.size.height - 1) / tileSide,
                     "A stroke's run outside the canvas or across tile rows");
        Row& row = rows[size_t(run.origin.y / tileSide)];
        if (row.end == 0) {
            row.first = i;
        }
        precondition(row.end == 0 || row.end == i, "A stroke's runs out of order");
        row.end = i + 1;
        packedRow[i] = height;
        height += run.size.height;
        y0 = std::min(y0, run.origin.y);
        y1 = std::max(y1, run.origin.y + run.size.height);
    }
    auto work = [=, rows = std::move(rows), packedRow = std::move(packedRow)] {
        const auto s = stroke->contents();
        const auto d = destination->contents();
        const auto bytes = *cpu::pixelLayout(MTLPixelFormat::rgba8Unorm);
        cpu::parallelRows(y0, y1, [&](int64_t from, int64_t to) {
            for (int64_t y = from; y < to; ++y) {
                const Row& row = rows[size_t(y / tileSide)];
                for (size_t i = row.first; i < row.end; ++i) {
                    const MTLRegion& run = runs[i];
                    const int64_t x = run.origin.x, n = run.size.width;
                    const int64_t at = packedRow[i] + (y - run.origin.y);
                    auto* pixels = reinterpret_cast<float*>(d.row(y) + x * 16);
                    auto* strokePixels = reinterpret_cast<float*>(s.row(y) + x * 16);
                    // Each pixel read once: before, blend, after, stroke cleared.
                    cpu::storeRow(bytes, pixels, before->row(at), n);
                    blendRow(pixels, strokePixels, n, erasing);
                    cpu::storeRow(bytes, pixels, after->row(at), n);
                    std::memset(strokePixels, 0, size_t(n) * 16);
                }
            }
        });
    };
    if (!runs.empty()) {
        commandBuffer.encodeHostCommand("Finish stroke in its tiles", std::move(work),
                                        {stroke, destination});
    }
    clear();
}

} // namespace velmora
