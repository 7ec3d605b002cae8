#include "Rendering/DrawDotsKernel.hpp"

#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "Rendering/DotDesc.hpp"
#include "foundation/FatalError.hpp"
#include "gpu/cpu/KernelLibrary.hpp"
#include "gpu/cpu/Workers.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <mutex>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// The stamping loop has an AVX2 path picked at run time beside the baseline.
#define VELMORA_INLINE inline __attribute__((always_inline))

namespace velmora {

namespace {

struct Int2 {
    int32_t x, y;
};

// Half-open pixel rectangle.
struct Rect {
    int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool isEmpty() const { return x1 <= x0 || y1 <= y0; }
};

Rect rectOf(const MTLRegion& r) {
    return {r.origin.x, r.origin.y, r.origin.x + r.size.width, r.origin.y + r.size.height};
}

Rect intersect(const Rect& a, const Rect& b) {
    return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

float unit(float v) {
    return v > 0 ? (v < 1 ? v : 1) : 0; // NaN gives 0
}

struct Dab {
    float cx, cy;
    float inner;    // full coverage up to here (before the falloff)
    float outer;    // no coverage from here on
    float invWidth; // 1 / (outer - inner), the falloff's width being at least 1
    float alpha;
    float color[4];
    Rect box;
};

// None for a dot that cannot change any pixel.
bool makeDab(const DotDesc& dot, Dab& dab) {
    dab.box = rectOf(dotRegion(dot));
    dab.alpha = unit(dot.opacity) * unit(dot.color[3]);
    if (dab.box.isEmpty() || !(dab.alpha > 0)) {
        return false;
    }
    const float hardness = std::isnan(dot.hardness) ? 1.0f : unit(dot.hardness);
    dab.cx = dot.pos[0];
    dab.cy = dot.pos[1];
    dab.inner = hardness * dot.radius - 0.5f;
    dab.outer = dot.radius + 0.5f;
    dab.invWidth = 1.0f / (dab.outer - dab.inner);
    if (!std::isfinite(dab.invWidth)) {
        return false; // a radius so large that the falloff cannot be measured in floats
    }
    for (int c = 0; c < 3; ++c) {
        dab.color[c] = dot.color[c];
    }
    dab.color[3] = 1;
    return true;
}

constexpr int32_t kChunk = 256;
// Dabs at most this wide stamp whole rows of their box.
constexpr int64_t kWholeRows = 40;

VELMORA_INLINE void coverSpan(float* cover, int32_t count, int32_t x0, float dy2, const Dab& dab) {
    const float cx = dab.cx, inner = dab.inner, invWidth = dab.invWidth, alpha = dab.alpha;
    for (int32_t i = 0; i < count; ++i) {
        const float dx = (static_cast<float>(x0 + i) + 0.5f) - cx;
        const float d = std::sqrt(dx * dx + dy2);
        float t = (d - inner) * invWidth;
        t = t > 0.0f ? t : 0.0f;
        t = t < 1.0f ? t : 1.0f;
        cover[i] = (1.0f - t * t * (3.0f - 2.0f * t)) * alpha;
    }
}

VELMORA_INLINE void applySpan(float* pixels, const float* cover, int32_t count, const Dab& dab) {
    const float r = dab.color[0], g = dab.color[1], b = dab.color[2];
    for (int32_t i = 0; i < count; ++i) {
        float* p = pixels + 4 * i;
        const float a = cover[i];
        const float old = p[3];
        const bool raises = a > old;
        // Source-over of the dot with just enough alpha to lift the pixel to `a`,
        // written as a mix of the straight colours; no branch, so it vectorises.
        const float k = raises ? (a - old) / ((1.0f - old) * a) : 0.0f;
        p[0] += (r - p[0]) * k;
        p[1] += (g - p[1]) * k;
        p[2] += (b - p[2]) * k;
        p[3] = raises ? a : old;
    }
}

// The pixels [xs, xe) of row y that a dab inside `box` visits, and the row's squared
// distance from its centre; false when its rim does not reach the row. Only pixels
// whose centres lie less than `half` from the centre's column can be covered; the
// bounds err outwards, where coverage is computed as zero anyway. A small dab's rows
// are short enough to take whole.
VELMORA_INLINE bool rowSpan(const Dab& dab, const Rect& box, float outer2, int64_t y, int32_t& xs,
                            int32_t& xe, float& dy2) {
    const float dy = (static_cast<float>(y) + 0.5f) - dab.cy;
    const float rest = outer2 - dy * dy;
    if (!(rest > 0)) {
        return false;
    }
    xs = static_cast<int32_t>(box.x0);
    xe = static_cast<int32_t>(box.x1);
    if (box.x1 - box.x0 > kWholeRows) {
        const float half = std::sqrt(rest);
        const float lo = std::max(static_cast<float>(box.x0), std::floor(dab.cx - half - 0.5f));
        const float hi = std::min(static_cast<float>(box.x1), std::ceil(dab.cx + half - 0.5f) + 1);
        xs = static_cast<int32_t>(lo);
        xe = static_cast<int32_t>(hi);
    }
    dy2 = dy * dy;
    return true;
}

#if defined(__x86_64__) && defined(__GNUC__)
#define VELMORA_AVX2_STAMP 1

// The four registers of eight pixels' RGBA, loaded whole or, at the end of a span,
// only for the pixels that exist there: the others read as zero and are never written.
struct Lanes {
    __m256i mask[4];
    bool partial = false;     // stores masked
    bool partialLoad = false; // loads masked too: the group's end lies past the row's
};

__attribute__((target("avx2"))) VELMORA_INLINE __m256 load(const float* p, const Lanes& lanes,
                                                           int j) {
    return lanes.partialLoad ? _mm256_maskload_ps(p + 8 * j, lanes.mask[j])
                             : _mm256_loadu_ps(p + 8 * j);
}

__attribute__((target("avx2"))) VELMORA_INLINE void store(float* p, const Lanes& lanes, int j,
                                                          __m256 v) {
    if (lanes.partial) {
        _mm256_maskstore_ps(p + 8 * j, lanes.mask[j], v);
    } else {
        _mm256_storeu_ps(p + 8 * j, v);
    }
}

// coverSpan and applySpan for eight pixels at a time, operation for operation the
// same arithmetic (no fused multiply-add), so every bit matches. Coverage is worked
// out in planes, the lanes holding pixels 0 2 4 6 1 3 5 7 so that every shuffle
// stays inside a 128-bit half; only the alphas are gathered into a plane and each
// pixel's share is spread back over its own RGBA. Lanes that `live`
// leaves out, and groups where the dab raises no pixel, are left unwritten: there
// the formulas give back the pixel.
struct SpanAvx2 {
    __m256 cx, inner, invWidth, alpha, dy2, reach, half, zero, one, two, three, color;
    __m256i order;

    __attribute__((target("avx2"))) explicit SpanAvx2(const Dab& dab)
        : cx(_mm256_set1_ps(dab.cx)), inner(_mm256_set1_ps(dab.inner)),
          invWidth(_mm256_set1_ps(dab.invWidth)), alpha(_mm256_set1_ps(dab.alpha)),
          dy2(_mm256_setzero_ps()), reach(alpha), half(_mm256_set1_ps(0.5f)),
          zero(_mm256_setzero_ps()), one(_mm256_set1_ps(1.0f)), two(_mm256_set1_ps(2.0f)),
          three(_mm256_set1_ps(3.0f)),
          color(_mm256_setr_ps(dab.color[0], dab.color[1], dab.color[2], 0, dab.color[0],
                               dab.color[1], dab.color[2], 0)),
          order(_mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7)) {}

    __attribute__((target("avx2"))) VELMORA_INLINE void group(float* p, int32_t x, __m256 live,
                                                              const Lanes& lanes) const {
        // Pixels already at what the dab can give on this row need no coverage.
        const __m256 px[4] = {load(p, lanes, 0), load(p, lanes, 1), load(p, lanes, 2),
                              load(p, lanes, 3)};
        const __m256 old = _mm256_shuffle_ps(_mm256_unpackhi_ps(px[0], px[1]),
                                             _mm256_unpackhi_ps(px[2], px[3]), 0xEE);
        if (_mm256_movemask_ps(_mm256_and_ps(live, _mm256_cmp_ps(old, reach, _CMP_LT_OQ))) == 0) {
            return;
        }
        const __m256 xs = _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(x), order));
        const __m256 dx = _mm256_sub_ps(_mm256_add_ps(xs, half), cx);
        const __m256 d = _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(dx, dx), dy2));
        __m256 t = _mm256_mul_ps(_mm256_sub_ps(d, inner), invWidth);
        t = _mm256_min_ps(_mm256_max_ps(t, zero), one);
        const __m256 smooth =
            _mm256_mul_ps(_mm256_mul_ps(t, t), _mm256_sub_ps(three, _mm256_mul_ps(two, t)));
        const __m256 a = _mm256_mul_ps(_mm256_sub_ps(one, smooth), alpha);
        const __m256 raises = _mm256_and_ps(live, _mm256_cmp_ps(a, old, _CMP_GT_OQ));
        if (_mm256_movemask_ps(raises) == 0) {
            return;
        }
        const __m256 k =
            _mm256_and_ps(raises, _mm256_div_ps(_mm256_sub_ps(a, old),
                                                _mm256_mul_ps(_mm256_sub_ps(one, old), a)));
        const __m256 lifted = _mm256_blendv_ps(old, a, raises);
        // Back in the pixels' own layout: register j holds pixels 2j and 2j + 1, lane j
        // of the planes' two halves.
        store(p, lanes, 0, mix<0x00>(px[0], k, lifted));
        store(p, lanes, 1, mix<0x55>(px[1], k, lifted));
        store(p, lanes, 2, mix<0xAA>(px[2], k, lifted));
        store(p, lanes, 3, mix<0xFF>(px[3], k, lifted));
    }

    // Two pixels' colour moved towards the dab's by their k, and their alpha lifted;
    // `spread` picks their lane of the planes.
    template <int spread>
    __attribute__((target("avx2"))) VELMORA_INLINE __m256 mix(__m256 pixels, __m256 k,
                                                              __m256 lifted) const {
        const __m256 share = _mm256_shuffle_ps(k, k, spread);
        const __m256 moved =
            _mm256_add_ps(pixels, _mm256_mul_ps(_mm256_sub_ps(color, pixels), share));
        return _mm256_blend_ps(moved, _mm256_shuffle_ps(lifted, lifted, spread), 0x88);
    }
};

// The stores, and the loads unless the whole group lies inside the row, of the
// first `count` (< 8) pixels of a group only.
__attribute__((target("avx2"))) VELMORA_INLINE Lanes firstLanes(int32_t count, bool loadWhole) {
    const __m256i rest = _mm256_set1_epi32(count);
    const __m256i pair = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
    Lanes lanes;
    lanes.partial = true;
    lanes.partialLoad = !loadWhole;
    for (int j = 0; j < 4; ++j) {
        lanes.mask[j] = _mm256_cmpgt_epi32(rest, _mm256_add_epi32(pair, _mm256_set1_epi32(2 * j)));
    }
    return lanes;
}

// Above what any pixel of a row at squared distance dy2 can get from the dab,
// capped at its alpha (which no coverage exceeds). Every pixel's distance is at
// least sqrt(dy2) and every step from the distance to the alpha keeps the order
// but the smoothstep, whose roundings stay below 1e-6: the margin makes it safe.
VELMORA_INLINE float rowReach(const Dab& dab, float dy2) {
    float t = (std::sqrt(dy2) - dab.inner) * dab.invWidth;
    t = t > 0.0f ? t : 0.0f;
    t = t < 1.0f ? t : 1.0f;
    const float nearest = (1.0f - t * t * (3.0f - 2.0f * t)) * dab.alpha;
    return std::min(dab.alpha, nearest + 1e-5f);
}

// stampDab eight pixels at a time: the dab's constants set up once, each row's
// span in groups, the last one with the lanes past the span dead, never written
// (nor read where they lie past the row's end).
__attribute__((target("avx2"))) void stampDabAvx2(const Dab& dab, const Rect& box,
                                                  const MTLTextureContents& target) {
    SpanAvx2 span(dab);
    const float outer2 = dab.outer * dab.outer;
    const __m256 all = _mm256_castsi256_ps(_mm256_set1_epi32(-1));
    const Lanes whole{};
    for (int64_t y = box.y0; y < box.y1; ++y) {
        int32_t xs = 0, xe = 0;
        float dy2 = 0;
        if (!rowSpan(dab, box, outer2, y, xs, xe, dy2) || xs >= xe) {
            continue;
        }
        span.dy2 = _mm256_set1_ps(dy2);
        span.reach = _mm256_set1_ps(rowReach(dab, dy2));
        float* pixels = reinterpret_cast<float*>(target.row(y)) + 4 * int64_t(xs);
        const int32_t count = xe - xs;
        int32_t i = 0;
        for (; i + 8 <= count; i += 8) {
            span.group(pixels + 4 * i, xs + i, all, whole);
        }
        if (i < count) {
            const __m256i rest = _mm256_set1_epi32(count - i);
            const __m256 live = _mm256_castsi256_ps(_mm256_cmpgt_epi32(rest, span.order));
            span.group(pixels + 4 * i, xs + i, live,
                       firstLanes(count - i, int64_t(xs) + i + 8 <= target.width));
        }
    }
}

bool hasAvx2() {
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
}
#endif

void stampDab(const Dab& dab, const Rect& clip, const MTLTextureContents& target) {
    const Rect box = intersect(dab.box, clip);
    if (box.isEmpty()) {
        return;
    }
#ifdef VELMORA_AVX2_STAMP
    if (hasAvx2()) {
        stampDabAvx2(dab, box, target);
        return;
    }
#endif
    const float outer2 = dab.outer * dab.outer;
    alignas(32) float cover[kChunk];
    for (int64_t y = box.y0; y < box.y1; ++y) {
        int32_t xs = 0, xe = 0;
        float dy2 = 0;
        if (!rowSpan(dab, box, outer2, y, xs, xe, dy2)) {
            continue;
        }
        auto* row = reinterpret_cast<float*>(target.row(y));
        for (int32_t x = xs; x < xe; x += kChunk) {
            const int32_t n = std::min(kChunk, xe - x);
            coverSpan(cover, n, x, dy2, dab);
            applySpan(row + 4 * int64_t(x), cover, n, dab);
        }
    }
}

struct Batch {
    int32_t count = 0;
    Int2 origin{};
    MTLTextureContents stroke;
    MTLTextureContents scratch;
};

Batch batchOf(const cpu::ComputeArguments& args) {
    Batch batch;
    const auto count = args.constants.intValue(0);
    precondition(count && *count >= 0, "drawDots needs its dot count");
    batch.count = *count;
    batch.origin = args.table.bytesAs<Int2>(3);
    batch.stroke = args.table.texture(0);
    batch.scratch = args.table.texture(1);
    precondition(batch.stroke.pixelFormat == MTLPixelFormat::rgba32Float &&
                     batch.scratch.pixelFormat == MTLPixelFormat::rgba32Float,
                 "drawDots draws into rgba32Float textures");
    return batch;
}

// The pixels the dispatch may write: the dots' regions inside both textures and
// the grid, in pixel coordinates.
Rect pixelDomain(const cpu::ComputeArguments& args, const Batch& batch) {
    MTLRegion all{};
    for (int32_t i = 0; i < batch.count; ++i) {
        const auto region = dotRegion(args.table.element<DotDesc>(2, size_t(i)));
        all = unionWith(all, region);
    }
    const Rect textures{0, 0, std::min(batch.stroke.width, batch.scratch.width),
                        std::min(batch.stroke.height, batch.scratch.height)};
    const Rect grid{batch.origin.x, batch.origin.y, batch.origin.x + args.grid.width,
                    batch.origin.y + args.grid.height};
    return intersect(intersect(rectOf(all), textures), grid);
}

std::optional<cpu::ThreadRect> domain(const cpu::ComputeArguments& args) {
    const auto batch = batchOf(args);
    const Rect r = pixelDomain(args, batch);
    if (r.isEmpty()) {
        return std::nullopt;
    }
    return cpu::ThreadRect{r.x0 - batch.origin.x, r.y0 - batch.origin.y, r.x1 - batch.origin.x,
                           r.y1 - batch.origin.y};
}

// The batch's pixels inside `clip`: the stroke's value copied over (unless it is
// stamped in place), then the dabs in order.
void stampBatch(const Batch& batch, const std::vector<Dab>& dabs, const Rect& clip) {
    if (clip.isEmpty()) {
        return;
    }
    const auto rowBytes = static_cast<size_t>(clip.x1 - clip.x0) * 16;
    for (int64_t y = clip.y0; y < clip.y1; ++y) {
        const uint8_t* from = batch.stroke.row(y) + clip.x0 * 16;
        uint8_t* to = batch.scratch.row(y) + clip.x0 * 16;
        if (from != to) {
            std::memcpy(to, from, rowBytes);
        }
    }
    for (const Dab& dab : dabs) {
        stampDab(dab, clip, batch.scratch);
    }
}

std::vector<Dab> dabsOf(const cpu::ComputeArguments& args, const Batch& batch) {
    std::vector<Dab> dabs;
    dabs.reserve(size_t(batch.count));
    for (int32_t i = 0; i < batch.count; ++i) {
        Dab dab;
        if (makeDab(args.table.element<DotDesc>(2, size_t(i)), dab)) {
            dabs.push_back(dab);
        }
    }
    return dabs;
}

void run(const cpu::ComputeArguments& args, const cpu::ThreadRect& band) {
    const auto batch = batchOf(args);
    const Rect clip{band.x0 + batch.origin.x, band.y0 + batch.origin.y, band.x1 + batch.origin.x,
                    band.y1 + batch.origin.y};
    stampBatch(batch, dabsOf(args, batch), clip);
}

// Pixels stamped below this run on the calling thread: waking the workers would
// cost more.
constexpr int64_t kSerialPixels = 24 * 1024;

#ifdef VELMORA_AVX2_STAMP
// Rows of the in-place stamping handed to one worker at a time.
constexpr int64_t kStampBandRows = 16;

// A dispatch's dots as dabs, in order, each inside the textures and the grid (and
// so inside the batch's pixels). The records are read straight from the bound
// bytes, their length checked once.
void appendDabs(const cpu::ComputeArguments& args, const Batch& batch, std::vector<Dab>& dabs) {
    if (batch.count == 0) {
        return;
    }
    args.table.element<DotDesc>(2, size_t(batch.count - 1)); // stops if too short
    const uint8_t* records = args.table.buffer(2).data();
    const Rect limit =
        intersect(Rect{0, 0, std::min(batch.stroke.width, batch.scratch.width),
                       std::min(batch.stroke.height, batch.scratch.height)},
                  Rect{batch.origin.x, batch.origin.y, batch.origin.x + args.grid.width,
                       batch.origin.y + args.grid.height});
    for (int32_t i = 0; i < batch.count; ++i) {
        DotDesc dot;
        std::memcpy(&dot, records + size_t(i) * sizeof(DotDesc), sizeof(DotDesc));
        Dab dab;
        if (makeDab(dot, dab)) {
            dab.box = intersect(dab.box, limit);
            if (!dab.box.isEmpty()) {
                dabs.push_back(dab);
            }
        }
    }
}

// The run's dabs in order when every dispatch stamps `target` in place; false
// otherwise.
bool inPlaceDabs(const std::vector<const cpu::ComputeArguments*>& dispatches,
                 MTLTextureContents& target, std::vector<Dab>& dabs) {
    std::vector<Batch> batches;
    batches.reserve(dispatches.size());
    size_t dots = 0;
    for (const auto* args : dispatches) {
        const Batch& batch = batches.emplace_back(batchOf(*args));
        if (args == dispatches.front()) {
            target = batch.scratch;
        }
        if (batch.stroke.data != target.data || batch.scratch.data != target.data ||
            batch.stroke.bytesPerRow != target.bytesPerRow ||
            batch.scratch.bytesPerRow != target.bytesPerRow) {
            return false;
        }
        dots += size_t(batch.count);
    }
    dabs.reserve(dots);
    for (size_t i = 0; i < dispatches.size(); ++i) {
        appendDabs(*dispatches[i], batches[i], dabs);
    }
    return true;
}

// Rows y0..y1 of the dabs `first`..`last` (indices into `dabs`), dab after dab.
void stampRows(const MTLTextureContents& target, const std::vector<Dab>& dabs,
               const uint32_t* first, const uint32_t* last, int64_t y0, int64_t y1) {
    const Rect rows{INT64_MIN, y0, INT64_MAX, y1};
    for (const uint32_t* i = first; i != last; ++i) {
        stampDab(dabs[*i], rows, target);
    }
}

// The run's dabs, in order and each inside its batch's pixels, stamped in place in
// bands of rows: each band takes only the dabs that reach it.
void stampInPlace(const MTLTextureContents& target, const std::vector<Dab>& dabs) {
    int64_t y0 = INT64_MAX, y1 = INT64_MIN, work = 0;
    for (const Dab& dab : dabs) {
        y0 = std::min(y0, dab.box.y0);
        y1 = std::max(y1, dab.box.y1);
        work += (dab.box.x1 - dab.box.x0) * (dab.box.y1 - dab.box.y0);
    }
    if (dabs.empty()) {
        return;
    }
    const int64_t bands = (y1 - y0 + kStampBandRows - 1) / kStampBandRows;
    const auto bandOf = [&](int64_t y) { return size_t((y - y0) / kStampBandRows); };
    // Each band's dabs, in order, by counting.
    std::vector<uint32_t> starts(size_t(bands) + 1, 0);
    for (const Dab& dab : dabs) {
        for (size_t b = bandOf(dab.box.y0); b <= bandOf(dab.box.y1 - 1); ++b) {
            ++starts[b + 1];
        }
    }
    for (size_t b = 0; b < size_t(bands); ++b) {
        starts[b + 1] += starts[b];
    }
    std::vector<uint32_t> indices(starts.back());
    std::vector<uint32_t> next(starts.begin(), starts.end() - 1);
    for (size_t i = 0; i < dabs.size(); ++i) {
        for (size_t b = bandOf(dabs[i].box.y0); b <= bandOf(dabs[i].box.y1 - 1); ++b) {
            indices[next[b]++] = uint32_t(i);
        }
    }
    const auto stamp = [&](int64_t from, int64_t to) {
        for (int64_t b = from; b < to; ++b) {
            const int64_t top = y0 + b * kStampBandRows;
            stampRows(target, dabs, indices.data() + starts[size_t(b)],
                      indices.data() + starts[size_t(b) + 1], top,
                      std::min(y1, top + kStampBandRows));
        }
    };
    if (work < kSerialPixels) {
        stamp(0, bands);
        return;
    }
    cpu::parallelRows(0, bands, stamp, 1);
}
#endif

// A frame's batches in one pass over the rows they cover: each band stamps every
// batch in order, so each pixel still sees the dots in order.
void runTogether(const std::vector<const cpu::ComputeArguments*>& dispatches) {
#ifdef VELMORA_AVX2_STAMP
    if (hasAvx2()) {
        MTLTextureContents target;
        std::vector<Dab> dabs;
        if (inPlaceDabs(dispatches, target, dabs)) {
            stampInPlace(target, dabs);
            return;
        }
    }
#endif
    struct Part {
        Batch batch;
        Rect pixels;
        std::vector<Dab> dabs;
    };
    std::vector<Part> parts;
    parts.reserve(dispatches.size());
    int64_t y0 = INT64_MAX, y1 = INT64_MIN, work = 0;
    for (const auto* args : dispatches) {
        Part part;
        part.batch = batchOf(*args);
        part.pixels = pixelDomain(*args, part.batch);
        if (part.pixels.isEmpty()) {
            continue;
        }
        part.dabs = dabsOf(*args, part.batch);
        for (const Dab& dab : part.dabs) {
            const Rect box = intersect(dab.box, part.pixels);
            work += box.isEmpty() ? 0 : (box.x1 - box.x0) * (box.y1 - box.y0);
        }
        y0 = std::min(y0, part.pixels.y0);
        y1 = std::max(y1, part.pixels.y1);
        parts.push_back(std::move(part));
    }
    if (parts.empty()) {
        return;
    }
    const auto band = [&](int64_t from, int64_t to) {
        for (const Part& part : parts) {
            const Rect rows{part.pixels.x0, from, part.pixels.x1, to};
            stampBatch(part.batch, part.dabs, intersect(part.pixels, rows));
        }
    };
    if (work < kSerialPixels) {
        band(y0, y1);
        return;
    }
    cpu::parallelRows(y0, y1, band);
}

} // namespace

cpu::ComputeKernel makeDrawDotsKernel() {
    cpu::ComputeKernel kernel;
    kernel.domain = domain;
    kernel.run = run;
    kernel.requiredConstants = {{0, MTLDataType::int_}};
    kernel.runTogether = runTogether;
    return kernel;
}

void registerDrawDotsKernel() {
    static std::once_flag once;
    std::call_once(
        once, [] { cpu::KernelLibrary::shared().addKernel("drawDots", makeDrawDotsKernel()); });
}

} // namespace velmora
