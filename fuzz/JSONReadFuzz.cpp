#include "coding/DecodingError.hpp"
#include "coding/JSONSerialization.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>

// Any input either fails with a DecodingError or reads into a tree that writes
// back to text which reads and writes again to the same text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    velmora::CodedValue value;
    try {
        value = velmora::JSONSerialization::read(text);
    } catch (const velmora::DecodingError&) {
        return 0;
    }
    const std::string once = velmora::JSONSerialization::write(value);
    const std::string twice =
        velmora::JSONSerialization::write(velmora::JSONSerialization::read(once));
    if (once != twice) {
        std::abort();
    }
    return 0;
}
