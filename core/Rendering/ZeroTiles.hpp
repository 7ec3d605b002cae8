#pragma once

#include "gpu/MTLTexture.hpp"
#include "imaging/ImagingGeometry.hpp"
#include "imaging/PixelStorage.hpp"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace velmora {

// Which 64 × 64 tiles of a texture hold only zero bits, kept from one composite
// to the next and forgotten wherever the texture changed since: a stroke
// texture that stays clear is then not read again by every recomposite.
class ZeroTiles {
public:
    static constexpr int64_t side = 64;

    // Held by whoever prepares and then asks, so two composites never mix marks.
    std::mutex& mutex() { return mutex_; }

    // Brings the marks up to the texture's changes, then finds, over the workers,
    // the marks of the tiles the areas (texture pixels, rows as stored) meet that
    // are not known yet. Marks only textures not stored top row first.
    void prepare(const std::shared_ptr<MTLTexture>& texture, const imaging::PixelStorage& storage,
                 const std::vector<imaging::PixelRect>& areas);
    // Whether the marks are those of `texture`, as prepared last.
    bool describes(const MTLResource* texture) const;
    // Whether every tile `r` (texture pixels) meets is known to hold only zeros.
    bool allZeroIn(const imaging::PixelRect& r) const;

private:
    enum : uint8_t { unknown, zero, painted };

    void forget(const imaging::PixelRect& r);
    bool scan(const imaging::PixelStorage& storage, int64_t column, int64_t row) const;

    std::mutex mutex_;
    std::weak_ptr<MTLTexture> texture_;
    const MTLResource* identity_ = nullptr;
    uint64_t generation_ = 0;
    int64_t columns_ = 0, rows_ = 0;
    std::vector<uint8_t> marks_;
};

} // namespace velmora
