#include "Rendering/CanvasMipChain.hpp"

#include "foundation/FatalError.hpp"
#include "gpu/cpu/Workers.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <emmintrin.h>
#include <string>

namespace velmora {

int CanvasMipChain::levelFor(double texelsPerPixel) {
    if (!(texelsPerPixel > 1.0) || !std::isfinite(texelsPerPixel)) {
        return 0;
    }
    return static_cast<int>(std::floor(std::log2(texelsPerPixel) + 0.5));
}

namespace {
int64_t half(int64_t n) {
    return (n + 1) / 2;
}

using Rect = CanvasMipChain::Rect;

Rect wholeOf(const MTLTexture& t) {
    return {0, 0, t.width(), t.height()};
}

bool isEmptyRegion(const MTLRegion& r) {
    return r.size.width < 1 || r.size.height < 1;
}

// The texels of a level `scale` times smaller that a changed region of the texture reaches.
Rect reducedRect(const MTLRegion& changed, int64_t scale, const MTLTexture& level) {
    const auto down = [&](int64_t v) { return v >= 0 ? v / scale : 0; };
    const auto up = [&](int64_t v) { return v > 0 ? (v + scale - 1) / scale : 0; };
    return {std::min(down(changed.origin.x), level.width()),
            std::min(down(changed.origin.y), level.height()),
            std::min(up(changed.origin.x + changed.size.width), level.width()),
            std::min(up(changed.origin.y + changed.size.height), level.height())};
}

void halveRect(const MTLTextureContents& from, const MTLTextureContents& to, const Rect& r) {
    CanvasMipChain::halve(from, to, r);
}
void quarterRect(const MTLTextureContents& from, const MTLTextureContents& to, const Rect& r) {
    CanvasMipChain::quarter(from, to, r);
}
} // namespace

std::shared_ptr<MTLTexture> CanvasMipChain::encodeLevel(const std::shared_ptr<MTLTexture>& source,
                                                        int level,
                                                        MTLCommandBuffer& commandBuffer) {
    precondition(level >= 1, "Level 0 is the texture itself");
    const auto format = source->pixelFormat();
    if (format != MTLPixelFormat::rgba8Unorm && format != MTLPixelFormat::bgra8Unorm) {
        return nullptr;
    }
    std::vector<std::shared_ptr<MTLTexture>> chain{source};
    int64_t w = source->width(), h = source->height();
    for (int n = 1; n <= level; ++n) {
        if (w < 2 && h < 2) {
            return nullptr;
        }
        w = half(w), h = half(h);
        auto& slot =
            levels_.size() >= size_t(n) ? levels_[size_t(n - 1)] : levels_.emplace_back(nullptr);
        if (slot == nullptr || slot->width() != w || slot->height() != h ||
            slot->pixelFormat() != format) {
            auto d = MTLTextureDescriptor::texture2DDescriptor(format, w, h);
            d.usage = MTLTextureUsage::shaderReadWrite;
            d.storageMode = MTLStorageMode::private_;
            slot = device_->newTexture(d);
            if (slot == nullptr) {
                return nullptr;
            }
            slot->setLabel("Canvas level " + std::to_string(n));
        }
        chain.push_back(slot);
    }
    std::vector<std::shared_ptr<MTLResource>> resources(chain.begin(), chain.end());
    commandBuffer.encodeHostCommand(
        "Canvas levels",
        [chain, made = made_] {
            std::lock_guard lock(made->mutex);
            if (made->levels.size() < chain.size() - 1) {
                made->levels.resize(chain.size() - 1);
            }
            // Every level is a function of the texture alone: one made from the same
            // texture at the same count, and untouched since, still holds; one made
            // from it before a change whose region is known is remade there only.
            auto make = [&](size_t n, size_t from, auto reduce) {
                Made& m = made->levels[n - 1];
                const uint64_t generation = chain[0]->contentGeneration();
                Rect rect = wholeOf(*chain[n]);
                if (m.source.lock() == chain[0] && m.level.lock() == chain[n] &&
                    m.levelGeneration == chain[n]->contentGeneration()) {
                    const auto changed = chain[0]->changedSince(m.sourceGeneration);
                    if (changed && isEmptyRegion(*changed)) {
                        return;
                    }
                    if (changed) {
                        rect = reducedRect(*changed, int64_t(1) << n, *chain[n]);
                    }
                }
                const MTLRegion written{{rect.x0, rect.y0, 0},
                                        {rect.x1 - rect.x0, rect.y1 - rect.y0, 1}};
                reduce(chain[from]->contentsForReading(), chain[n]->contents(written), rect);
                m = {chain[0], chain[n], generation, chain[n]->contentGeneration()};
            };
            size_t n = 1;
            // Straight to level 2 in one pass over the texture when it is wanted.
            if (chain.size() > 2) {
                make(2, 0, quarterRect);
                n = 3;
            }
            for (; n < chain.size(); ++n) {
                make(n, n - 1, halveRect);
            }
        },
        std::move(resources));
    return chain.back();
}

void CanvasMipChain::halve(const MTLTextureContents& from, const MTLTextureContents& to) {
    halve(from, to, {0, 0, to.width, to.height});
}

void CanvasMipChain::halve(const MTLTextureContents& from, const MTLTextureContents& to,
                           const Rect& r) {
    precondition(to.width == half(from.width) && to.height == half(from.height) &&
                     from.bytesPerPixel == 4 && to.bytesPerPixel == 4,
                 "Level of another size");
    precondition(0 <= r.x0 && r.x0 <= r.x1 && r.x1 <= to.width && 0 <= r.y0 && r.y0 <= r.y1 &&
                     r.y1 <= to.height,
                 "Texels outside the level");
    cpu::parallelRows(r.y0, r.y1, [&](int64_t y0, int64_t y1) {
        const __m128i zero = _mm_setzero_si128(), two = _mm_set1_epi16(2);
        for (int64_t y = y0; y < y1; ++y) {
            const uint8_t* a = from.row(2 * y);
            const uint8_t* b = from.row(std::min(2 * y + 1, from.height - 1));
            uint8_t* out = to.row(y);
            const int64_t pairs = std::min(from.width / 2, r.x1); // whole 2 x 2 blocks
            int64_t x = r.x0;
            // Four output texels from eight texels of each row.
            for (; x + 4 <= pairs; x += 4) {
                const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8 * x));
                const __m128i a1 =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8 * x + 16));
                const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 8 * x));
                const __m128i b1 =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 8 * x + 16));
                // Per 16-bit lane: texel 2i + texel 2i + 1 of both rows.
                auto sums = [&](__m128i r0, __m128i r1) {
                    const __m128i lo =
                        _mm_add_epi16(_mm_unpacklo_epi8(r0, zero), _mm_unpacklo_epi8(r1, zero));
                    const __m128i hi =
                        _mm_add_epi16(_mm_unpackhi_epi8(r0, zero), _mm_unpackhi_epi8(r1, zero));
                    // lo holds texels 0, 1; hi texels 2, 3: add the pairs.
                    const __m128i p0 = _mm_add_epi16(lo, _mm_srli_si128(lo, 8));
                    const __m128i p1 = _mm_add_epi16(hi, _mm_srli_si128(hi, 8));
                    return _mm_unpacklo_epi64(p0, p1);
                };
                const __m128i s0 = _mm_srli_epi16(_mm_add_epi16(sums(a0, b0), two), 2);
                const __m128i s1 = _mm_srli_epi16(_mm_add_epi16(sums(a1, b1), two), 2);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x), _mm_packus_epi16(s0, s1));
            }
            for (; x < r.x1; ++x) {
                const int64_t x0 = 2 * x, x1 = std::min(2 * x + 1, from.width - 1);
                for (int c = 0; c < 4; ++c) {
                    const int sum = a[4 * x0 + c] + a[4 * x1 + c] + b[4 * x0 + c] + b[4 * x1 + c];
                    out[4 * x + c] = static_cast<uint8_t>((sum + 2) >> 2);
                }
            }
        }
    });
}

void CanvasMipChain::quarter(const MTLTextureContents& from, const MTLTextureContents& to) {
    quarter(from, to, {0, 0, to.width, to.height});
}

void CanvasMipChain::quarter(const MTLTextureContents& from, const MTLTextureContents& to,
                             const Rect& r) {
    precondition(to.width == half(half(from.width)) && to.height == half(half(from.height)) &&
                     from.bytesPerPixel == 4 && to.bytesPerPixel == 4,
                 "Level of another size");
    precondition(0 <= r.x0 && r.x0 <= r.x1 && r.x1 <= to.width && 0 <= r.y0 && r.y0 <= r.y1 &&
                     r.y1 <= to.height,
                 "Texels outside the level");
    cpu::parallelRows(r.y0, r.y1, [&](int64_t y0, int64_t y1) {
        const __m128i zero = _mm_setzero_si128(), eight = _mm_set1_epi16(8);
        for (int64_t y = y0; y < y1; ++y) {
            const uint8_t* rows[4];
            for (int j = 0; j < 4; ++j) {
                rows[j] = from.row(std::min(4 * y + j, from.height - 1));
            }
            uint8_t* out = to.row(y);
            const int64_t blocks = std::min(from.width / 4, r.x1); // whole 4 x 4 blocks
            int64_t x = r.x0;
            for (; x < blocks; ++x) {
                __m128i lo = zero, hi = zero;
                for (const uint8_t* r : rows) {
                    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + 16 * x));
                    lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(v, zero));
                    hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(v, zero));
                }
                __m128i sum = _mm_add_epi16(lo, hi);
                sum = _mm_add_epi16(sum, _mm_srli_si128(sum, 8));
                sum = _mm_srli_epi16(_mm_add_epi16(sum, eight), 4);
                const int packed = _mm_cvtsi128_si32(_mm_packus_epi16(sum, zero));
                std::memcpy(out + 4 * x, &packed, 4);
            }
            for (; x < r.x1; ++x) {
                for (int c = 0; c < 4; ++c) {
                    int sum = 0;
                    for (const uint8_t* r : rows) {
                        for (int64_t i = 0; i < 4; ++i) {
                            sum += r[4 * std::min(4 * x + i, from.width - 1) + c];
                        }
                    }
                    out[4 * x + c] = static_cast<uint8_t>((sum + 8) >> 4);
                }
            }
        }
    });
}

} // namespace velmora
