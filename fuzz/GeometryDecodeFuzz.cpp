// Decodes a region from arbitrary JSON; whatever decodes must survive the
// region arithmetic without stopping the program.
#include "MetalExtensions/MTLGeometryCoding.hpp"
#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "coding/JSONDecoder.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MTLRegion r;
    try {
        r = JSONDecoder().decode<MTLRegion>(
            std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const DecodingError&) {
        return 0;
    }
    const MTLRegion grown = inflated(r, MTLVector(r.size.width, r.size.height, r.size.depth));
    const MTLRegion moved = translated(r, MTLVector(r.origin));
    (void)unionWith(grown, moved);
    (void)intersection(grown, moved);
    (void)right(grown);
    (void)top(moved);
    (void)surface(r.size);
    (void)(r.origin - moved.origin).length();
    (void)description(r);
    return 0;
}
