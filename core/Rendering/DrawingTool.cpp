#include "Rendering/DrawingTool.hpp"

namespace velmora {

std::optional<DrawingTool> drawingToolFromRawValue(std::int64_t rawValue) {
    if (rawValue < 0 || rawValue > 2) {
        return std::nullopt;
    }
    return static_cast<DrawingTool>(rawValue);
}

std::string_view name(DrawingTool tool) {
    switch (tool) {
    case DrawingTool::brush:
        return "Brush";
    case DrawingTool::eraser:
        return "Eraser";
    case DrawingTool::move:
        return "Move";
    }
    return "";
}

void Coding<DrawingTool>::encode(DrawingTool tool, Encoder& encoder) {
    encoder.singleValueContainer().encode(rawValue(tool));
}

DrawingTool Coding<DrawingTool>::decode(Decoder& decoder) {
    const std::int64_t raw = decoder.singleValueContainer().decode<std::int64_t>();
    if (const std::optional<DrawingTool> tool = drawingToolFromRawValue(raw)) {
        return *tool;
    }
    throw DecodingError::dataCorrupted(
        {decoder.codingPath(),
         "Cannot initialize Tool from invalid Int value " + std::to_string(raw)});
}

} // namespace velmora
