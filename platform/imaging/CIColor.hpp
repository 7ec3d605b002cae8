#pragma once

namespace velmora {

// A colour of the image graph: straight (not premultiplied) components in
// the working colour space.
struct CIColor {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    static constexpr CIColor clear() { return {0, 0, 0, 0}; }
    static constexpr CIColor black() { return {0, 0, 0, 1}; }
    static constexpr CIColor white() { return {1, 1, 1, 1}; }
    friend bool operator==(const CIColor&, const CIColor&) = default;
};

} // namespace velmora
