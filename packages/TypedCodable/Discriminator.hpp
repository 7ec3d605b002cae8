#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// The coding key under which a tagged object stores its class name. It has a
// text value only: building it from any integer gives nothing.
enum class Discriminator { type };

std::string_view rawValue(Discriminator key);
inline std::string_view stringValue(Discriminator key) {
    return rawValue(key);
}
inline std::optional<std::int64_t> intValue(Discriminator) {
    return std::nullopt;
}

// Exact, case-sensitive: only "type" gives a key.
std::optional<Discriminator> discriminatorFromRawValue(std::string_view text);
inline std::optional<Discriminator> discriminatorFromStringValue(std::string_view text) {
    return discriminatorFromRawValue(text);
}
inline std::optional<Discriminator> discriminatorFromIntValue(std::int64_t) {
    return std::nullopt;
}

// The usual coding-key description: Discriminator(stringValue: "type", intValue: nil).
std::string description(Discriminator key);

} // namespace velmora
