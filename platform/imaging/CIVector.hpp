#pragma once

#include <cstddef>

namespace velmora {

// Up to four numbers, the vector parameter of filters.
struct CIVector {
    double x = 0;
    double y = 0;
    double z = 0;
    double w = 0;
    size_t count = 4;

    constexpr CIVector() = default;
    constexpr CIVector(double x_, double y_, double z_, double w_)
        : x(x_), y(y_), z(z_), w(w_), count(4) {}
    constexpr double value(size_t i) const { return i == 0 ? x : i == 1 ? y : i == 2 ? z : w; }
    friend bool operator==(const CIVector&, const CIVector&) = default;
};

} // namespace velmora
