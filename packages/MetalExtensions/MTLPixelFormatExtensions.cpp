#include "MetalExtensions/MTLPixelFormatExtensions.hpp"

#include "foundation/FatalError.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

namespace velmora {

namespace {

struct FormatInfo {
    uint64_t raw;
    std::string_view name;
    int bits;
};

// Sorted by raw value.
constexpr std::array<FormatInfo, 69> kFormats{{
    {0, "invalid", 0},
    {1, "a8Unorm", 8},
    {10, "r8Unorm", 8},
    {12, "r8Snorm", 8},
    {13, "r8Uint", 8},
    {14, "r8Sint", 8},
    {20, "r16Unorm", 16},
    {22, "r16Snorm", 16},
    {23, "r16Uint", 16},
    {24, "r16Sint", 16},
    {25, "r16Float", 16},
    {30, "rg8Unorm", 8},
    {32, "rg8Snorm", 8},
    {33, "rg8Uint", 8},
    {34, "rg8Sint", 8},
    {53, "r32Uint", 32},
    {54, "r32Sint", 32},
    {55, "r32Float", 32},
    {60, "rg16Unorm", 16},
    {62, "rg16Snorm", 16},
    {63, "rg16Uint", 16},
    {64, "rg16Sint", 16},
    {65, "rg16Float", 16},
    {70, "rgba8Unorm", 8},
    {71, "rgba8Unorm_srgb", 8},
    {72, "rgba8Snorm", 8},
    {73, "rgba8Uint", 8},
    {74, "rgba8Sint", 8},
    {80, "bgra8Unorm", 8},
    {81, "bgra8Unorm_srgb", 8},
    {90, "rgb10a2Unorm", 0},
    {91, "rgb10a2Uint", 0},
    {92, "rg11b10Float", 0},
    {93, "rgb9e5Float", 0},
    {94, "bgr10a2Unorm", 0},
    {103, "rg32Uint", 32},
    {104, "rg32Sint", 32},
    {105, "rg32Float", 32},
    {110, "rgba16Unorm", 16},
    {112, "rgba16Snorm", 16},
    {113, "rgba16Uint", 16},
    {114, "rgba16Sint", 16},
    {115, "rgba16Float", 16},
    {123, "rgba32Uint", 32},
    {124, "rgba32Sint", 32},
    {125, "rgba32Float", 32},
    {130, "bc1_rgba", 0},
    {131, "bc1_rgba_srgb", 0},
    {132, "bc2_rgba", 0},
    {133, "bc2_rgba_srgb", 0},
    {134, "bc3_rgba", 0},
    {135, "bc3_rgba_srgb", 0},
    {140, "bc4_rUnorm", 0},
    {141, "bc4_rSnorm", 0},
    {142, "bc5_rgUnorm", 0},
    {143, "bc5_rgSnorm", 0},
    {150, "bc6H_rgbFloat", 0},
    {151, "bc6H_rgbuFloat", 0},
    {152, "bc7_rgbaUnorm", 0},
    {153, "bc7_rgbaUnorm_srgb", 0},
    {240, "gbgr422", 0},
    {241, "bgrg422", 0},
    {250, "depth16Unorm", 16},
    {252, "depth32Float", 32},
    {253, "stencil8", 8},
    {255, "depth24Unorm_stencil8", 0},
    {260, "depth32Float_stencil8", 0},
    {261, "x32_stencil8", 0},
    {262, "x24_stencil8", 0},
}};

const FormatInfo* find(MTLPixelFormat format) {
    const auto raw = static_cast<uint64_t>(format);
    const auto it = std::lower_bound(kFormats.begin(), kFormats.end(), raw,
                                     [](const FormatInfo& f, uint64_t r) { return f.raw < r; });
    return it != kFormats.end() && it->raw == raw ? &*it : nullptr;
}

} // namespace

std::string_view description(MTLPixelFormat format) {
    const auto* info = find(format);
    if (info == nullptr) {
        fatalError();
    }
    return info->name;
}

int bitsPerSample(MTLPixelFormat format) {
    const auto* info = find(format);
    if (info == nullptr) {
        fatalError();
    }
    return info->bits;
}

} // namespace velmora
