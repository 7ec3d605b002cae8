#pragma once

// Keyed coding of the pixel records: "x", "y", "z"; "width", "height",
// "depth"; "origin", "size". Every key is required. A decoded component must
// lie within ±2^24, so that no arithmetic on decoded geometry can overflow;
// anything beyond fails as corrupted data.

#include "coding/Coding.hpp"
#include "gpu/MTLGeometry.hpp"

namespace velmora {

template <> struct Coding<MTLOrigin> {
    static void encode(const MTLOrigin& origin, Encoder& encoder);
    static MTLOrigin decode(Decoder& decoder);
};

template <> struct Coding<MTLSize> {
    static void encode(const MTLSize& size, Encoder& encoder);
    static MTLSize decode(Decoder& decoder);
};

template <> struct Coding<MTLRegion> {
    static void encode(const MTLRegion& region, Encoder& encoder);
    static MTLRegion decode(Decoder& decoder);
};

} // namespace velmora
