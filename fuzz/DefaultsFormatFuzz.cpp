#include "foundation/TaggedDefaultsFormat.hpp"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

std::uint64_t fnv1a(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (const std::uint8_t b : bytes) {
        hash = (hash ^ b) * 0x100000001B3ULL;
    }
    return hash;
}

void check(const velmora::TaggedDefaultsFormat& format, const std::vector<std::uint8_t>& bytes) {
    velmora::DefaultsValue::Dictionary values;
    try {
        values = format.decode(bytes);
    } catch (const velmora::UserDefaultsError&) {
        return;
    }
    if (format.decode(format.encode(values)) != values) {
        std::abort();
    }
}

} // namespace

// The raw input, and the input sealed with magic and a valid checksum so that
// the parser behind the checksum is reached: either fails with a
// UserDefaultsError or reads values that survive a round trip.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const velmora::TaggedDefaultsFormat format;
    check(format, std::vector<std::uint8_t>(data, data + size));

    std::vector<std::uint8_t> sealed = {'V', 'L', 'M', 'D', 'E', 'F', 'S', '1'};
    sealed.insert(sealed.end(), data, data + size);
    const std::uint64_t hash = fnv1a(sealed);
    for (int i = 0; i < 8; ++i) {
        sealed.push_back(static_cast<std::uint8_t>(hash >> (8 * i)));
    }
    check(format, sealed);
    return 0;
}
