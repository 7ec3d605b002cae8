#pragma once

#include "coding/Coding.hpp"

#include <optional>
#include <string_view>

namespace velmora {

// How a layer is combined with what lies below it; stored by its text value.
enum class BlendMode {
    sourceOver,
    multiply,
    overlay,
    linearBurn,
    linearDodge,
    eraser,
    normal = sourceOver
};

// The stored text, which is also the case name.
std::string_view rawValue(BlendMode mode);
// Exact and case-sensitive; nothing for any other text.
std::optional<BlendMode> blendModeFromRawValue(std::string_view text);

template <> struct Coding<BlendMode> {
    static void encode(BlendMode mode, Encoder& encoder);
    // Any text that is no raw value fails as corrupted data.
    static BlendMode decode(Decoder& decoder);
};

} // namespace velmora

template <> struct std::hash<velmora::BlendMode> {
    std::size_t operator()(velmora::BlendMode mode) const noexcept {
        return std::hash<std::string_view>()(velmora::rawValue(mode));
    }
};
