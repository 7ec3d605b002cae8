#include "Canvas/BlendMode.hpp"

#include <array>
#include <string>
#include <utility>

namespace velmora {

namespace {
constexpr std::array<std::pair<BlendMode, std::string_view>, 6> kRawValues{{
    {BlendMode::sourceOver, "sourceOver"},
    {BlendMode::multiply, "multiply"},
    {BlendMode::overlay, "overlay"},
    {BlendMode::linearBurn, "linearBurn"},
    {BlendMode::linearDodge, "linearDodge"},
    {BlendMode::eraser, "eraser"},
}};
} // namespace

std::string_view rawValue(BlendMode mode) {
    for (const auto& [m, text] : kRawValues) {
        if (m == mode) {
            return text;
        }
    }
    fatalError("Unknown blend mode");
}

std::optional<BlendMode> blendModeFromRawValue(std::string_view text) {
    for (const auto& [m, raw] : kRawValues) {
        if (raw == text) {
            return m;
        }
    }
    return std::nullopt;
}

void Coding<BlendMode>::encode(BlendMode mode, Encoder& encoder) {
    encoder.singleValueContainer().encode(rawValue(mode));
}

BlendMode Coding<BlendMode>::decode(Decoder& decoder) {
    const SingleValueDecodingContainer container = decoder.singleValueContainer();
    const std::string text = container.decode<std::string>();
    if (const auto mode = blendModeFromRawValue(text)) {
        return *mode;
    }
    throw container.dataCorruptedError("Cannot initialize BlendMode from invalid String value " +
                                       text);
}

} // namespace velmora
