#include "foundation/NSGeometry.hpp"

#include <charconv>
#include <cmath>
#include <optional>

namespace velmora {

namespace {

std::string numberText(double value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, ec == std::errc() ? end : buffer);
}

void skipSpaces(std::string_view& text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' ||
                             text.front() == '\r')) {
        text.remove_prefix(1);
    }
}

bool consume(std::string_view& text, char c) {
    skipSpaces(text);
    if (text.empty() || text.front() != c) {
        return false;
    }
    text.remove_prefix(1);
    return true;
}

// Locale-independent, so "{1920, 1080}" reads the same under a comma locale.
std::optional<double> consumeNumber(std::string_view& text) {
    skipSpaces(text);
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.starts_with('-')) {
            return std::nullopt;
        }
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || !std::isfinite(value)) {
        return std::nullopt;
    }
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return value;
}

} // namespace

std::string NSStringFromSize(NSSize size) {
    return "{" + numberText(size.width) + ", " + numberText(size.height) + "}";
}

NSSize NSSizeFromString(std::string_view text) {
    if (!consume(text, '{')) {
        return {};
    }
    const auto width = consumeNumber(text);
    if (!width || !consume(text, ',')) {
        return {};
    }
    const auto height = consumeNumber(text);
    if (!height || !consume(text, '}')) {
        return {};
    }
    skipSpaces(text);
    if (!text.empty()) {
        return {};
    }
    return {*width, *height};
}

} // namespace velmora
