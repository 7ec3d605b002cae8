#pragma once

#include "foundation/UserDefaultsFormat.hpp"

namespace velmora {

// A compact tagged binary form with a checksum: "VLMDEFS1", the root
// dictionary, then the FNV-1a 64-bit hash of everything before it.
class TaggedDefaultsFormat final : public UserDefaultsFormat {
public:
    bool recognises(std::span<const std::uint8_t> bytes) const override;
    DefaultsValue::Dictionary decode(std::span<const std::uint8_t> bytes) const override;
    std::vector<std::uint8_t> encode(const DefaultsValue::Dictionary& values) const override;
};

} // namespace velmora
