#pragma once

#include "coding/Coding.hpp"
#include "coding/PropertyListObject.hpp"

#include <cstdint>
#include <span>

namespace velmora {

// Decodes a value from a property list. Throws DecodingError; bytes that are
// not a property list fail with dataCorrupted.
class PropertyListDecoder {
public:
    CodingUserInfo userInfo;

    template <class T> T decode(const PropertyListObject& topLevel) const {
        ValueDecoder decoder;
        decoder.userInfo = userInfo;
        return decoder.decode<T>(codedValue(topLevel));
    }

    template <class T> T decode(std::span<const std::uint8_t> data) const {
        return decode<T>(propertyList(data));
    }

    // Dates become their seconds since 2001 as a double, sets become arrays;
    // UIDs, which only keyed archives use, fail with dataCorrupted.
    static CodedValue codedValue(const PropertyListObject& object);

private:
    static PropertyListObject propertyList(std::span<const std::uint8_t> data);
};

} // namespace velmora
