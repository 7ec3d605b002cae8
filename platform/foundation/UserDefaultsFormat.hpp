#pragma once

#include "foundation/DefaultsValue.hpp"

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora {

// The user defaults' file was unreadable or damaged, or a value cannot be written.
class UserDefaultsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How the user defaults are laid out on disk. The store writes with one format
// and reads any format it knows that recognises the file.
class UserDefaultsFormat {
public:
    virtual ~UserDefaultsFormat() = default;

    // Whether `bytes` begin like a file of this format.
    virtual bool recognises(std::span<const std::uint8_t> bytes) const = 0;
    // Throws UserDefaultsError for damaged data; never reads out of bounds.
    virtual DefaultsValue::Dictionary decode(std::span<const std::uint8_t> bytes) const = 0;
    virtual std::vector<std::uint8_t> encode(const DefaultsValue::Dictionary& values) const = 0;
};
} // namespace velmora
