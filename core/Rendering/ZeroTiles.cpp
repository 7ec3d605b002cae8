#include "Rendering/ZeroTiles.hpp"

#include "gpu/cpu/Workers.hpp"

#include <algorithm>
#include <cstring>

namespace velmora {

using imaging::PixelRect;

void ZeroTiles::prepare(const std::shared_ptr<MTLTexture>& texture,
                        const imaging::PixelStorage& storage, const std::vector<PixelRect>& areas) {
    // Read before the changes: one made meanwhile is only asked about again.
    const uint64_t now = texture->contentGeneration();
    const int64_t columns = (storage.width + side - 1) / side;
    const int64_t rows = (storage.height + side - 1) / side;
    if (storage.base == nullptr || storage.topRowFirst) {
        identity_ = nullptr;
        texture_.reset();
        return;
    }
    if (texture_.lock() != texture || columns != columns_ || rows != rows_) {
        texture_ = texture;
        identity_ = texture.get();
        columns_ = columns;
        rows_ = rows;
        marks_.assign(size_t(columns * rows), unknown);
    } else if (now != generation_) {
        if (const auto changed = texture->changedSince(generation_)) {
            forget(
                {changed->origin.x, changed->origin.y, changed->size.width, changed->size.height});
        } else {
            std::fill(marks_.begin(), marks_.end(), unknown);
        }
    }
    generation_ = now;

    std::vector<int64_t> wanted;
    for (const PixelRect& area : areas) {
        const PixelRect r = imaging::intersection(area, {0, 0, storage.width, storage.height});
        if (r.isEmpty()) {
            continue;
        }
        for (int64_t ty = r.y / side; ty * side < r.maxY(); ++ty) {
            for (int64_t tx = r.x / side; tx * side < r.maxX(); ++tx) {
                uint8_t& mark = marks_[size_t(ty * columns_ + tx)];
                if (mark == unknown) {
                    mark = painted; // until scanned; asked for once
                    wanted.push_back(ty * columns_ + tx);
                }
            }
        }
    }
    cpu::parallelRows(
        0, int64_t(wanted.size()),
        [&](int64_t first, int64_t end) {
            for (int64_t i = first; i < end; ++i) {
                const int64_t tile = wanted[size_t(i)];
                marks_[size_t(tile)] =
                    scan(storage, tile % columns_, tile / columns_) ? zero : painted;
            }
        },
        8);
}

bool ZeroTiles::describes(const MTLResource* texture) const {
    return texture != nullptr && texture == identity_;
}

bool ZeroTiles::allZeroIn(const PixelRect& r) const {
    if (r.isEmpty()) {
        return true;
    }
    if (r.x < 0 || r.y < 0 || r.maxX() > columns_ * side || r.maxY() > rows_ * side) {
        return false;
    }
    for (int64_t ty = r.y / side; ty * side < r.maxY(); ++ty) {
        for (int64_t tx = r.x / side; tx * side < r.maxX(); ++tx) {
            if (marks_[size_t(ty * columns_ + tx)] != zero) {
                return false;
            }
        }
    }
    return true;
}

void ZeroTiles::forget(const PixelRect& changed) {
    const PixelRect r = imaging::intersection(changed, {0, 0, columns_ * side, rows_ * side});
    if (r.isEmpty()) {
        return;
    }
    for (int64_t ty = r.y / side; ty * side < r.maxY(); ++ty) {
        for (int64_t tx = r.x / side; tx * side < r.maxX(); ++tx) {
            marks_[size_t(ty * columns_ + tx)] = unknown;
        }
    }
}

bool ZeroTiles::scan(const imaging::PixelStorage& storage, int64_t column, int64_t row) const {
    const size_t pixelBytes = imaging::bytesPerPixel(storage.format);
    const int64_t x0 = column * side, x1 = std::min(storage.width, x0 + side);
    const int64_t y1 = std::min(storage.height, (row + 1) * side);
    const size_t bytes = size_t(x1 - x0) * pixelBytes;
    for (int64_t y = row * side; y < y1; ++y) {
        const std::byte* p =
            storage.base + size_t(y) * storage.bytesPerRow + size_t(x0) * pixelBytes;
        uint64_t bits = 0;
        size_t i = 0;
        for (; i + 8 <= bytes; i += 8) {
            uint64_t w;
            std::memcpy(&w, p + i, 8);
            bits |= w;
        }
        for (; i < bytes; ++i) {
            bits |= uint64_t(p[i]);
        }
        if (bits != 0) {
            return false;
        }
    }
    return true;
}

} // namespace velmora
