#include "Rendering/Brush.hpp"
#include "coding/JSONDecoder.hpp"
#include "coding/JSONEncoder.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>

// A brush file either fails to decode with a DecodingError or holds a brush
// that writes and reads back as an equal brush.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    velmora::Brush brush;
    try {
        brush = velmora::JSONDecoder().decode<velmora::Brush>(text);
    } catch (const velmora::DecodingError&) {
        return 0;
    }
    const std::string written = velmora::JSONEncoder().encode(brush);
    if (!(velmora::JSONDecoder().decode<velmora::Brush>(written) == brush)) {
        std::abort();
    }
    return 0;
}
