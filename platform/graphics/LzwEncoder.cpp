#include "graphics/LzwEncoder.hpp"

#include <algorithm>

namespace velmora::codec {

namespace {

constexpr uint32_t clearCode = 256;
constexpr uint32_t endCode = 257;
constexpr uint32_t firstCode = 258;
// Readers hold 4096 entries and add one more for each code they read, so the
// dictionary is cleared before it reaches them.
constexpr uint32_t fullCode = 4094;
constexpr unsigned narrowest = 9;

// Codes gathered most significant bit first and stored four bytes at a time.
class BitWriter {
public:
    explicit BitWriter(uint8_t* out) : out_(out), start_(out) {}

    void put(uint32_t code, unsigned width) {
        pending_ = (pending_ << width) | code;
        count_ += width;
        if (count_ >= 32) {
            count_ -= 32;
            const uint32_t word = uint32_t(pending_ >> count_);
            out_[0] = uint8_t(word >> 24);
            out_[1] = uint8_t(word >> 16);
            out_[2] = uint8_t(word >> 8);
            out_[3] = uint8_t(word);
            out_ += 4;
        }
    }

    // The last bits padded with zeros to a whole byte; answers the bytes written.
    size_t finish() {
        const uint32_t word = count_ > 0 ? uint32_t(pending_ << (32 - count_)) : 0;
        for (unsigned shift = 24; count_ > 0; shift -= 8) {
            *out_++ = uint8_t(word >> shift);
            count_ = count_ > 8 ? count_ - 8 : 0;
        }
        return size_t(out_ - start_);
    }

private:
    uint8_t* out_;
    uint8_t* start_;
    uint64_t pending_ = 0; // at most 31 + 12 bits in use
    unsigned count_ = 0;
};

} // namespace

LzwEncoder::LzwEncoder() = default;

size_t LzwEncoder::maximumEncodedSize(size_t size) {
    // Every byte its own 12-bit code, with a Clear for each full dictionary,
    // the first Clear, a last Clear and the End code.
    return size + size / 2 + size / 2048 + 16;
}

void LzwEncoder::clearDictionary() {
    // Tags of generation 0 never match: wiped slots are empty.
    if (++generation_ == generationCount) {
        tags_.fill(0);
        generation_ = 1;
    }
}

size_t LzwEncoder::encode(const uint8_t* data, size_t size, uint8_t* out) {
    BitWriter writer(out);
    unsigned width = narrowest;
    clearDictionary();
    writer.put(clearCode, width);
    if (size == 0) {
        writer.put(endCode, width);
        return writer.finish();
    }
    uint32_t next = firstCode;
    uint32_t prefix = data[0];
    uint32_t tagBase = generation_ << 8;
    uint16_t* const tags = tags_.data();
    uint16_t* const codes = codes_.data();
    for (size_t i = 1; i < size; ++i) {
        const uint32_t byte = data[i];
        const uint32_t slot = prefix ^ spread(byte);
        const uint32_t tag = tagBase | byte;
        if (tags[slot] == tag) {
            prefix = codes[slot];
            continue;
        }
        writer.put(prefix, width);
        tags[slot] = uint16_t(tag);
        codes[slot] = uint16_t(next);
        prefix = byte;
        if (++next == fullCode) {
            writer.put(clearCode, width);
            clearDictionary();
            tagBase = generation_ << 8;
            next = firstCode;
            width = narrowest;
        } else if (next == (1u << width)) {
            // Readers widen as soon as they have added the entry just before it.
            ++width;
        }
    }
    writer.put(prefix, width);
    // A reader adds an entry for this last code too and may widen for the End.
    if (++next == fullCode) {
        writer.put(clearCode, width);
        width = narrowest;
    } else if (next == (1u << width)) {
        ++width;
    }
    writer.put(endCode, width);
    return writer.finish();
}

} // namespace velmora::codec
