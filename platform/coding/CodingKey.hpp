#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// One step of a coding path: a dictionary key, or an array position ("Index 3"
// with intValue 3).
struct CodingKey {
    std::string stringValue;
    std::optional<std::int64_t> intValue;

    CodingKey() = default;
    CodingKey(std::string key) : stringValue(std::move(key)) {}
    CodingKey(const char* key) : stringValue(key) {}

    static CodingKey index(std::size_t position);
    // The key under which keyed containers hand out their super coders.
    static CodingKey super() { return CodingKey("super"); }

    friend bool operator==(const CodingKey&, const CodingKey&) = default;
};

using CodingPath = std::vector<CodingKey>;

// "layers[1].super.opacity"; "<root>" for the empty path.
std::string describeCodingPath(const CodingPath& path);

// The path with one more step, for handing down to a nested coder.
CodingPath appending(const CodingPath& path, CodingKey key);

} // namespace velmora
