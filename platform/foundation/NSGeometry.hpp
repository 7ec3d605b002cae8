#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// The edges of a rectangle, by the platform's raw values.
enum class NSRectEdge : int64_t { minX = 0, minY = 1, maxX = 2, maxY = 3 };

// A width and height in points, as the platform's text forms store it.
struct NSSize {
    double width = 0;
    double height = 0;
    friend bool operator==(const NSSize&, const NSSize&) = default;
};

// "{W, H}" with the shortest numbers that read back the same: "{1920, 1080}".
std::string NSStringFromSize(NSSize size);

// Reads "{W, H}" (spaces allowed around the numbers); any other text, or a
// number that is not finite, reads as 0 × 0.
NSSize NSSizeFromString(std::string_view text);

} // namespace velmora
