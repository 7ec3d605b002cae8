#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Standard alphabet with "=" padding, as the platform writes data in JSON.
std::string base64Encode(std::span<const std::uint8_t> bytes);

// Strict: a length that is a multiple of four, no whitespace, padding only at
// the end. Empty for anything else.
std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text);

} // namespace velmora
