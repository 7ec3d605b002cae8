#pragma once

#include "gpu/MTLPixelFormat.hpp"

#include <cstdint>
#include <optional>

// How the CPU device stores the pixel formats it supports, and the conversion of
// rows between them and RGBA floats. Float to 8 bits is round(clamp(v, 0, 1) * 255)
// (NaN gives 0); 8 bits to float is v / 255.
namespace velmora::cpu {

struct PixelLayout {
    enum class Kind { unorm8, unorm16, float16, float32 };
    Kind kind = Kind::unorm8;
    int channels = 4; // stored components
    int bytesPerPixel = 4;
    bool bgra = false; // stored as b, g, r, a
    bool alphaOnly = false;
    bool srgb = false; // stored values are sRGB-encoded; rows convert to linear
    friend bool operator==(const PixelLayout&, const PixelLayout&) = default;
};

// None for formats the CPU device cannot hold.
std::optional<PixelLayout> pixelLayout(MTLPixelFormat format);

// `n` pixels of `src` in `layout` to RGBA floats (missing colour components 0,
// missing alpha 1).
void loadRow(const PixelLayout& layout, const uint8_t* src, float* rgba, int64_t n);
// `n` RGBA float pixels into `dst` in `layout`.
void storeRow(const PixelLayout& layout, const float* rgba, uint8_t* dst, int64_t n);

inline uint8_t unorm8(float v) {
    v = v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
    return static_cast<uint8_t>(static_cast<int>(v * 255.0f + 0.5f));
}

float srgbToLinear(float v);
float linearToSrgb(float v);

} // namespace velmora::cpu
