#pragma once

#include <cstdint>

namespace velmora {

// The small enumerations and records of the GPU interface. Raw values are the
// platform's.

struct MTLTextureUsage {
    uint64_t rawValue = 0;

    static const MTLTextureUsage unknown;
    static const MTLTextureUsage shaderRead;
    static const MTLTextureUsage shaderWrite;
    static const MTLTextureUsage renderTarget;
    static const MTLTextureUsage pixelFormatView;
    // What a kernel that both reads and writes a texture needs.
    static const MTLTextureUsage shaderReadWrite;

    bool contains(MTLTextureUsage other) const {
        return (rawValue & other.rawValue) == other.rawValue;
    }
    friend constexpr MTLTextureUsage operator|(MTLTextureUsage a, MTLTextureUsage b) {
        return {a.rawValue | b.rawValue};
    }
    friend bool operator==(const MTLTextureUsage&, const MTLTextureUsage&) = default;
};

inline constexpr MTLTextureUsage MTLTextureUsage::unknown{0};
inline constexpr MTLTextureUsage MTLTextureUsage::shaderRead{1};
inline constexpr MTLTextureUsage MTLTextureUsage::shaderWrite{2};
inline constexpr MTLTextureUsage MTLTextureUsage::renderTarget{4};
inline constexpr MTLTextureUsage MTLTextureUsage::pixelFormatView{0x10};
inline constexpr MTLTextureUsage MTLTextureUsage::shaderReadWrite{3};

// `private_` because `private` is a keyword.
enum class MTLStorageMode : uint64_t { shared = 0, managed = 1, private_ = 2, memoryless = 3 };

enum class MTLTextureType : uint64_t {
    type1D = 0,
    type1DArray = 1,
    type2D = 2,
    type2DArray = 3,
    type2DMultisample = 4,
    typeCube = 5,
    typeCubeArray = 6,
    type3D = 7,
};

enum class MTLCPUCacheMode : uint64_t { defaultCache = 0, writeCombined = 1 };

struct MTLClearColor {
    double red = 0, green = 0, blue = 0, alpha = 0;
    friend bool operator==(const MTLClearColor&, const MTLClearColor&) = default;
};

inline constexpr MTLClearColor MTLClearColorMake(double r, double g, double b, double a) {
    return {r, g, b, a};
}

struct MTLViewport {
    double originX = 0, originY = 0, width = 0, height = 0, znear = 0, zfar = 1;
    friend bool operator==(const MTLViewport&, const MTLViewport&) = default;
};

enum class MTLPrimitiveType : uint64_t {
    point = 0,
    line = 1,
    lineStrip = 2,
    triangle = 3,
    triangleStrip = 4,
};

enum class MTLLoadAction : uint64_t { dontCare = 0, load = 1, clear = 2 };
enum class MTLStoreAction : uint64_t { dontCare = 0, store = 1 };

enum class MTLDataType : uint64_t {
    none = 0,
    float_ = 3,
    float2 = 4,
    int_ = 29,
    int2 = 30,
    uint = 33,
    uint2 = 34,
    bool_ = 53,
};

enum class MTLFunctionType : uint64_t { vertex = 1, fragment = 2, kernel = 3 };

} // namespace velmora
