#pragma once

#include "Rendering/BrushCursor.hpp"
#include "foundation/UUID.hpp"
#include "graphics/CGGeometry.hpp"

#include <cstdint>
#include <string>

namespace velmora {

class Encoder;
class Decoder;

// One brush: identity, name, the dots it lays down, how they follow pressure,
// and how strongly the pen input is stabilised. Holds whatever it is given;
// limits apply where the values are used.
struct Brush {
    static constexpr float minimumSize = 1.0f;
    static constexpr float maximumSize = 1000.0f;
    static constexpr std::int64_t maximumStabilization = 20;

    UUID uuid;
    std::string name = "Unnamed brush";
    float size = 20.0f;
    float hardness = 1.0f;
    float opacity = 1.0f;
    float spacing = 0.05f; // fraction of the dot's diameter
    bool sizeDependsOnPressure = false;
    bool opacityDependsOnPressure = false;
    float sizeMinRatio = 0.0f;
    float opacityMinRatio = 0.0f;
    std::uint64_t stabilization = 0;

    // The default brush, with a new identifier.
    Brush() = default;
    Brush(UUID uuid, std::string name, float size, float hardness, float opacity, float spacing,
          bool sizeDependsOnPressure, bool opacityDependsOnPressure, float sizeMinRatio,
          float opacityMinRatio, std::uint64_t stabilization);

    // Every field, floats by floating-point equality and names by canonical equivalence.
    friend bool operator==(const Brush& a, const Brush& b);

    // "Brush(uuid: …, name: "…", size: 20.0, …)", every field.
    std::string description() const;

    BrushCursor cursor(CGFloat zoom, CGFloat maxSize) const {
        return BrushCursor::make(size, zoom, maxSize);
    }

    // One keyed record of eleven keys; every key is required and a non-finite
    // number is refused both ways, so a stored brush always reads back.
    void encode(Encoder& encoder) const;
    static Brush decode(Decoder& decoder);
};

} // namespace velmora
