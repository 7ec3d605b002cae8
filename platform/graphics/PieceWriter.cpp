#include "graphics/PieceWriter.hpp"

#include <algorithm>
#include <cstring>
#include <functional>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

namespace velmora::codec {

namespace {

// Smaller writes are copied at once: headers and tables, rewritten in place.
constexpr size_t placedSize = 512;

} // namespace

bool PieceWriter::lasts(const uint8_t* bytes, size_t size) const {
    const std::less_equal<const uint8_t*> before;
    return std::any_of(lasting_.begin(), lasting_.end(), [&](std::span<const uint8_t> s) {
        return before(s.data(), bytes) && before(bytes + size, s.data() + s.size());
    });
}

void PieceWriter::write(uint64_t position, const uint8_t* bytes, size_t size) {
    if (size == 0) {
        return;
    }
    if (size < placedSize || !lasts(bytes, size)) {
        bytes = copies_.emplace_back(bytes, bytes + size).data();
    }
    pieces_.push_back({position, bytes, size});
    length_ = std::max(length_, position + size);
}

size_t PieceWriter::read(uint64_t position, uint8_t* out, size_t size) const {
    if (position >= length_) {
        return 0;
    }
    size = size_t(std::min<uint64_t>(size, length_ - position));
    std::memset(out, 0, size);
    for (const Piece& p : pieces_) {
        const uint64_t from = std::max(position, p.position);
        const uint64_t to = std::min(position + size, p.position + p.size);
        if (from < to) {
            std::memcpy(out + (from - position), p.bytes + (from - p.position), to - from);
        }
    }
    return size;
}

PieceWriter::Bytes PieceWriter::assemble() const {
    Bytes out(length_);
    // Pieces that meet no other are placed in parallel; the rest in the order
    // written, so a later write still wins.
    std::vector<size_t> order(pieces_.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return pieces_[a].position < pieces_[b].position; });
    std::vector<bool> alone(pieces_.size(), true);
    uint64_t reach = 0;
    for (size_t k = 0; k < order.size(); ++k) {
        const Piece& p = pieces_[order[k]];
        if (p.position < reach) {
            alone[order[k]] = false;
            for (size_t j = 0; j < k; ++j) {
                const Piece& q = pieces_[order[j]];
                if (q.position + q.size > p.position) {
                    alone[order[j]] = false;
                }
            }
        }
        reach = std::max(reach, p.position + p.size);
    }
    tbb::parallel_for(tbb::blocked_range<size_t>(0, pieces_.size(), 16),
                      [&](const tbb::blocked_range<size_t>& range) {
                          for (size_t i = range.begin(); i != range.end(); ++i) {
                              if (alone[i]) {
                                  const Piece& p = pieces_[i];
                                  std::memcpy(out.data() + p.position, p.bytes, p.size);
                              }
                          }
                      });
    for (size_t i = 0; i < pieces_.size(); ++i) {
        if (!alone[i]) {
            std::memcpy(out.data() + pieces_[i].position, pieces_[i].bytes, pieces_[i].size);
        }
    }
    return out;
}

} // namespace velmora::codec
