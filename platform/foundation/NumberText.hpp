#pragma once

#include <charconv>
#include <cmath>
#include <concepts>
#include <string>

namespace velmora {

// The shortest decimal text that reads back as the same value, with a decimal
// point kept on whole numbers ("2.0"), as the platform prints floating point.
template <std::floating_point T> std::string shortestNumberText(T v) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    std::string text(buffer, ec == std::errc() ? end : buffer);
    if (std::isfinite(v) && text.find_first_of(".e") == std::string::npos) {
        text += ".0";
    }
    return text;
}

} // namespace velmora
