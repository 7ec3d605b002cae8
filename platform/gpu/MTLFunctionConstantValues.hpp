#pragma once

#include "gpu/MTLTypes.hpp"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace velmora {

// Values that specialise a function when it is taken from a library.
class MTLFunctionConstantValues {
public:
    struct Value {
        MTLDataType type = MTLDataType::none;
        std::vector<uint8_t> bytes;
        friend bool operator==(const Value&, const Value&) = default;
    };

    void setConstantValue(const void* value, MTLDataType type, uint64_t index);

    const Value* value(uint64_t index) const;
    // The constant at `index` read as the given type; none when absent or of another type.
    std::optional<int32_t> intValue(uint64_t index) const;
    std::optional<uint32_t> uintValue(uint64_t index) const;
    std::optional<float> floatValue(uint64_t index) const;
    std::optional<bool> boolValue(uint64_t index) const;

    const std::map<uint64_t, Value>& values() const;
    friend bool operator==(const MTLFunctionConstantValues& a, const MTLFunctionConstantValues& b) {
        return a.values() == b.values();
    }

private:
    // Shared and never changed once set: every dispatch copies its function's values.
    std::shared_ptr<const std::map<uint64_t, Value>> values_;
};

// Size in bytes of one value of a scalar or vector data type; 0 for unsupported types.
size_t dataTypeSize(MTLDataType type);

} // namespace velmora
