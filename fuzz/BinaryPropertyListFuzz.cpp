#include "coding/BinaryPropertyList.hpp"

#include <cstdlib>

// Any input either fails with PropertyListError or decodes into a list whose
// encoding is stable: writing it, reading it back and writing again gives the
// same bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velmora::PropertyListObject value;
    try {
        value = velmora::BinaryPropertyList::decode(std::span<const std::uint8_t>(data, size));
    } catch (const velmora::PropertyListError&) {
        return 0;
    }
    const auto once = velmora::BinaryPropertyList::encode(value);
    const auto twice = velmora::BinaryPropertyList::encode(
        velmora::BinaryPropertyList::decode(std::span<const std::uint8_t>(once)));
    if (once != twice) {
        std::abort();
    }
    return 0;
}
