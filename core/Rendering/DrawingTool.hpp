#pragma once

#include "coding/Coding.hpp"

#include <cstdint>
#include <optional>
#include <string_view>

namespace velmora {

// The tools the user draws with; compares, hashes and codes as its raw value.
// Reached as DrawingSettings::Tool.
enum class DrawingTool : std::int64_t { brush = 0, eraser = 1, move = 2 };

// No tool for any other integer.
std::optional<DrawingTool> drawingToolFromRawValue(std::int64_t rawValue);

inline std::int64_t rawValue(DrawingTool tool) {
    return static_cast<std::int64_t>(tool);
}

// "Brush", "Eraser", "Move".
std::string_view name(DrawingTool tool);

// True for the tools that paint with a brush.
inline bool hasDrawingSettings(DrawingTool tool) {
    return rawValue(tool) < 2;
}

// A single integer; another integer fails decoding.
template <> struct Coding<DrawingTool> {
    static void encode(DrawingTool tool, Encoder& encoder);
    static DrawingTool decode(Decoder& decoder);
};

} // namespace velmora
