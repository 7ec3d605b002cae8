#include "Rendering/DrawDotsKernel.hpp"

#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "Rendering/DotDesc.hpp"
#include "foundation/FatalError.hpp"
#include "gpu/cpu/KernelLibrary.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

// The stamping loop is built for AVX2 and the baseline and picked at load time;
// ThreadSanitizer cannot run the resolvers, so its builds keep the baseline.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define VELMORA_VECTORISED __attribute__((target_clones("avx2", "default")))
#else
#define VELMORA_VECTORISED
#endif
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

VELMORA_VECTORISED void stampDab(const Dab& dab, const Rect& clip,
                                 const MTLTextureContents& target) {
    const Rect box = intersect(dab.box, clip);
    if (box.isEmpty()) {
        return;
    }
    const float outer2 = dab.outer * dab.outer;
    alignas(32) float cover[kChunk];
    for (int64_t y = box.y0; y < box.y1; ++y) {
        const float dy = (static_cast<float>(y) + 0.5f) - dab.cy;
        const float rest = outer2 - dy * dy;
        if (!(rest > 0)) {
            continue;
        }
        // Only pixels whose centres lie less than `half` from the centre's column can be
        // covered; the bounds err outwards, where coverage is computed as zero anyway.
        const float half = std::sqrt(rest);
        const float lo = std::max(static_cast<float>(box.x0), std::floor(dab.cx - half - 0.5f));
        const float hi = std::min(static_cast<float>(box.x1), std::ceil(dab.cx + half - 0.5f) + 1);
        const auto xs = static_cast<int32_t>(lo);
        const auto xe = static_cast<int32_t>(hi);
        auto* row = reinterpret_cast<float*>(target.row(y));
        for (int32_t x = xs; x < xe; x += kChunk) {
            const int32_t n = std::min(kChunk, xe - x);
            coverSpan(cover, n, x, dy * dy, dab);
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

void run(const cpu::ComputeArguments& args, const cpu::ThreadRect& band) {
    const auto batch = batchOf(args);
    const Rect clip{band.x0 + batch.origin.x, band.y0 + batch.origin.y, band.x1 + batch.origin.x,
                    band.y1 + batch.origin.y};
    const auto rowBytes = static_cast<size_t>(clip.x1 - clip.x0) * 16;
    for (int64_t y = clip.y0; y < clip.y1; ++y) {
        const uint8_t* from = batch.stroke.row(y) + clip.x0 * 16;
        uint8_t* to = batch.scratch.row(y) + clip.x0 * 16;
        if (from != to) {
            std::memcpy(to, from, rowBytes);
        }
    }
    for (int32_t i = 0; i < batch.count; ++i) {
        Dab dab;
        if (makeDab(args.table.element<DotDesc>(2, size_t(i)), dab)) {
            stampDab(dab, clip, batch.scratch);
        }
    }
}

} // namespace

cpu::ComputeKernel makeDrawDotsKernel() {
    cpu::ComputeKernel kernel;
    kernel.domain = domain;
    kernel.run = run;
    kernel.requiredConstants = {{0, MTLDataType::int_}};
    return kernel;
}

void registerDrawDotsKernel() {
    static std::once_flag once;
    std::call_once(
        once, [] { cpu::KernelLibrary::shared().addKernel("drawDots", makeDrawDotsKernel()); });
}

} // namespace velmora
