#pragma once

#include "coding/Coding.hpp"
#include "foundation/IndexPath.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace velmora {

// An index path codes as an unkeyed list of its integers, top level first.
template <> struct Coding<IndexPath> {
    static void encode(const IndexPath& path, Encoder& encoder);
    static IndexPath decode(Decoder& decoder);
};

// The JSON text of the path, e.g. "[2,0]".
std::vector<std::uint8_t> encodeIndexPathJSON(const IndexPath& path);
// None for anything but a JSON array of integers.
std::optional<IndexPath> decodeIndexPathJSON(std::span<const std::uint8_t> data);

} // namespace velmora
