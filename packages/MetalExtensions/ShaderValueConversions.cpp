#include "MetalExtensions/ShaderValueConversions.hpp"

#include "foundation/FatalError.hpp"

#include <limits>

namespace velmora {

namespace {
uint32_t toUInt32(int64_t v) {
    precondition(v >= 0 && v <= int64_t(std::numeric_limits<uint32_t>::max()),
                 "Value out of the unsigned 32-bit range");
    return static_cast<uint32_t>(v);
}
} // namespace

MTLClearColor mtlClearColor(const NSColor& color) {
    return {color.redComponent(), color.greenComponent(), color.blueComponent(),
            color.alphaComponent()};
}

MPSOffset mpsOffset(const MTLOrigin& origin) {
    return {origin.x, origin.y, origin.z};
}

SIMD2<uint32_t> simd2UInt32(const MTLSize& size) {
    return {toUInt32(size.width), toUInt32(size.height)};
}

SIMD2<uint32_t> simd2UInt32(const MTLOrigin& origin) {
    return {toUInt32(origin.x), toUInt32(origin.y)};
}

SIMD2<float> simd2Float(const CGSize& size) {
    return {static_cast<float>(size.width), static_cast<float>(size.height)};
}

SIMD2<float> simd2Float(const CGPoint& point) {
    return {static_cast<float>(point.x), static_cast<float>(point.y)};
}

simd_float3x3 simdFloat3x3(const CGAffineTransform& t) {
    simd_float3x3 m;
    m.columns[0] = {static_cast<float>(t.a), static_cast<float>(t.b), 0, 0};
    m.columns[1] = {static_cast<float>(t.c), static_cast<float>(t.d), 0, 0};
    m.columns[2] = {static_cast<float>(t.tx), static_cast<float>(t.ty), 1, 0};
    return m;
}

} // namespace velmora
