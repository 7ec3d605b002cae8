#include "Rendering/StrokeTiles.hpp"

#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "MetalExtensions/MTLTextureExtensions.hpp"
#include "foundation/FatalError.hpp"
#include "gpu/cpu/PixelIO.hpp"
#include "gpu/cpu/Workers.hpp"

#include <algorithm>
#include <cstring>

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

} // namespace

StrokeTiles::StrokeTiles(const MTLSize& canvasSize)
    : columns_((canvasSize.width + tileSide - 1) / tileSide),
      rows_((canvasSize.height + tileSide - 1) / tileSide), marks_(size_t(columns_ * rows_), 0) {}

void StrokeTiles::mark(const MTLRegion& region) {
    const auto inside =
        intersection(region, MTLRegion{MTLOriginZero, {columns_ * tileSide, rows_ * tileSide, 1}});
    if (!inside) {
        return;
    }
    const int64_t c0 = inside->origin.x / tileSide;
    const int64_t c1 = (inside->origin.x + inside->size.width - 1) / tileSide;
    const int64_t r0 = inside->origin.y / tileSide;
    const int64_t r1 = (inside->origin.y + inside->size.height - 1) / tileSide;
    for (int64_t r = r0; r <= r1; ++r) {
        std::fill(marks_.begin() + r * columns_ + c0, marks_.begin() + r * columns_ + c1 + 1, 1);
    }
}

bool StrokeTiles::isMarked(int64_t column, int64_t row) const {
    return column >= 0 && row >= 0 && column < columns_ && row < rows_ &&
           marks_[size_t(row * columns_ + column)] != 0;
}

void StrokeTiles::clear() {
    std::fill(marks_.begin(), marks_.end(), 0);
}

void StrokeTiles::encodeFinish(const std::shared_ptr<MTLTexture>& stroke,
                               const std::shared_ptr<MTLTexture>& destination,
                               const MTLRegion& region, bool erasing,
                               const std::shared_ptr<MTLTexture>& before,
                               const std::shared_ptr<MTLTexture>& after,
                               MTLCommandBuffer& commandBuffer) {
    precondition(size(*before) == region.size && size(*after) == region.size &&
                     stroke->pixelFormat() == MTLPixelFormat::rgba32Float &&
                     destination->pixelFormat() == MTLPixelFormat::rgba32Float &&
                     before->pixelFormat() == MTLPixelFormat::rgba8Unorm &&
                     after->pixelFormat() == MTLPixelFormat::rgba8Unorm,
                 "Finishing a stroke needs float stroke and destination, 8-bit snapshots");
    auto work = [=, marks = marks_, columns = columns_] {
        const auto s = stroke->contents();
        const auto d = destination->contents();
        const auto b = before->contents();
        const auto a = after->contents();
        const auto bytes = *cpu::pixelLayout(MTLPixelFormat::rgba8Unorm);
        const int64_t x0 = region.origin.x, x1 = x0 + region.size.width;
        const int64_t y0 = region.origin.y;
        cpu::parallelRows(y0, y0 + region.size.height, [&](int64_t from, int64_t to) {
            for (int64_t y = from; y < to; ++y) {
                const uint8_t* tileRow = marks.data() + (y / tileSide) * columns;
                uint8_t* beforeRow = b.row(y - y0);
                uint8_t* afterRow = a.row(y - y0);
                for (int64_t x = x0; x < x1;) {
                    const int64_t end = std::min(x1, (x / tileSide + 1) * tileSide);
                    const int64_t n = end - x;
                    auto* pixels = reinterpret_cast<float*>(d.row(y) + x * 16);
                    uint8_t* beforeSpan = beforeRow + (x - x0) * 4;
                    uint8_t* afterSpan = afterRow + (x - x0) * 4;
                    cpu::storeRow(bytes, pixels, beforeSpan, n);
                    if (tileRow[x / tileSide] != 0) {
                        // Each pixel read once: before, blend, after, stroke cleared.
                        auto* strokePixels = reinterpret_cast<float*>(s.row(y) + x * 16);
                        blendSpan(pixels, strokePixels, n, erasing);
                        cpu::storeRow(bytes, pixels, afterSpan, n);
                        std::memset(strokePixels, 0, size_t(n) * 16);
                    } else {
                        std::memcpy(afterSpan, beforeSpan, size_t(n) * 4);
                    }
                    x = end;
                }
            }
        });
    };
    commandBuffer.encodeHostCommand("Finish stroke in its tiles", std::move(work),
                                    {stroke, destination, before, after});
    clear();
}

} // namespace velmora
