#include "MetalExtensions/MTLGeometryCoding.hpp"

#include <cstdint>
#include <string>

namespace velmora {

namespace {

// 2^24: far beyond any canvas, exact as a 32-bit float, and small enough that
// no sum, product or squared length of a few such values overflows.
constexpr int64_t kLimit = int64_t{1} << 24;

int64_t decodeComponent(const KeyedDecodingContainer& container, std::string_view key) {
    const auto value = container.decode<int64_t>(key);
    if (value < -kLimit || value > kLimit) {
        throw container.dataCorruptedError(key, "Value " + std::to_string(value) +
                                                    " is outside the supported pixel range.");
    }
    return value;
}

} // namespace

void Coding<MTLOrigin>::encode(const MTLOrigin& origin, Encoder& encoder) {
    auto container = encoder.container();
    container.encode(origin.x, "x");
    container.encode(origin.y, "y");
    container.encode(origin.z, "z");
}

MTLOrigin Coding<MTLOrigin>::decode(Decoder& decoder) {
    const auto container = decoder.container();
    return {decodeComponent(container, "x"), decodeComponent(container, "y"),
            decodeComponent(container, "z")};
}

void Coding<MTLSize>::encode(const MTLSize& size, Encoder& encoder) {
    auto container = encoder.container();
    container.encode(size.width, "width");
    container.encode(size.height, "height");
    container.encode(size.depth, "depth");
}

MTLSize Coding<MTLSize>::decode(Decoder& decoder) {
    const auto container = decoder.container();
    return {decodeComponent(container, "width"), decodeComponent(container, "height"),
            decodeComponent(container, "depth")};
}

void Coding<MTLRegion>::encode(const MTLRegion& region, Encoder& encoder) {
    auto container = encoder.container();
    container.encode(region.origin, "origin");
    container.encode(region.size, "size");
}

MTLRegion Coding<MTLRegion>::decode(Decoder& decoder) {
    const auto container = decoder.container();
    return {container.decode<MTLOrigin>("origin"), container.decode<MTLSize>("size")};
}

} // namespace velmora
