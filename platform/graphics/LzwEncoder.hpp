#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace velmora::codec {

// The LZW of TIFF strips: codes of 9 to 12 bits, most significant bit first,
// Clear (256) at the start and whenever the dictionary is full, End of
// Information (257) at the end, and every widening one code early, as TIFF
// readers expect. Each `encode` call is one strip on its own.
//
// The dictionary is a table of one slot per prefix and byte; clearing it
// starts a new generation instead of wiping it.
class LzwEncoder {
public:
    LzwEncoder();

    // The most bytes `encode` writes for `size` input bytes.
    static size_t maximumEncodedSize(size_t size);

    // Encodes `size` bytes into `out`, which holds maximumEncodedSize(size)
    // bytes, and answers how many it wrote.
    size_t encode(const uint8_t* data, size_t size, uint8_t* out);

private:
    // Four slots for each code: a string is seldom forgotten. The slot and the
    // byte give back the prefix, so a slot keeps only the byte, the generation
    // and the code; two strings meeting in one slot keep the newer, which is
    // still valid LZW (a reader never looks strings up).
    static constexpr int slotBits = 14;
    static constexpr size_t slotCount = size_t(1) << slotBits;
    static constexpr uint32_t generationCount = 256;

    // Spreads bytes over the slots; the 12-bit prefix is XORed in below them.
    static uint32_t spread(uint32_t byte) { return (byte * 0x9E3779B1u) >> (32 - slotBits); }
    void clearDictionary();

    std::array<uint16_t, slotCount> tags_{}; // generation above the byte
    std::array<uint16_t, slotCount> codes_{};
    uint32_t generation_ = 0;
};

} // namespace velmora::codec
