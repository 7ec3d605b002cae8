#pragma once

#include "graphics/ImageCodecs.hpp"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace velmora::codec {

// Bytes written at positions, as into a file, and assembled at the end. Large
// writes from memory that outlives the writer are not copied when written but
// placed once, in parallel, into fresh memory that is not zeroed first: a file
// made mostly of bytes that already lie elsewhere costs one copy of them.
class PieceWriter {
public:
    using Bytes = LargeBytes;

    // Writes from within `bytes`, which must outlive assemble(), are placed.
    void keepReferencesInto(std::span<const uint8_t> bytes) { lasting_.push_back(bytes); }

    void write(uint64_t position, const uint8_t* bytes, size_t size);
    // What the bytes written so far hold there, later writes over earlier ones.
    size_t read(uint64_t position, uint8_t* out, size_t size) const;
    uint64_t length() const { return length_; }

    Bytes assemble() const;

private:
    struct Piece {
        uint64_t position;
        const uint8_t* bytes;
        uint64_t size;
    };

    bool lasts(const uint8_t* bytes, size_t size) const;

    std::vector<std::span<const uint8_t>> lasting_;
    std::deque<std::vector<uint8_t>> copies_;
    std::vector<Piece> pieces_;
    uint64_t length_ = 0;
};

} // namespace velmora::codec
