#pragma once

#include "foundation/UserDefaultsFormat.hpp"

namespace velmora {

// The user defaults file as a binary property list: one dictionary of the
// stored values. Dates read as reals (seconds since 2001); values the store
// cannot hold (null, UIDs, sets, integers beyond int64) make the file damaged.
class BinaryPropertyListDefaultsFormat final : public UserDefaultsFormat {
public:
    bool recognises(std::span<const std::uint8_t> bytes) const override;
    DefaultsValue::Dictionary decode(std::span<const std::uint8_t> bytes) const override;
    std::vector<std::uint8_t> encode(const DefaultsValue::Dictionary& values) const override;

    // Makes it the format every store writes; the application calls this at start-up.
    static void install();
};

} // namespace velmora
