#pragma once

#include "coding/Coding.hpp"
#include "coding/PropertyListObject.hpp"

#include <cstdint>
#include <vector>

namespace velmora {

// Encodes a value as a property list. Throws EncodingError.
class PropertyListEncoder {
public:
    CodingUserInfo userInfo;

    // The value's tree as property-list objects.
    template <class T> PropertyListObject encodeToTopLevelObject(const T& value) const {
        ValueEncoder encoder;
        encoder.userInfo = userInfo;
        return propertyList(encoder.encode(value));
    }

    // A binary property list.
    template <class T> std::vector<std::uint8_t> encode(const T& value) const {
        return encodedData(encodeToTopLevelObject(value));
    }

    // Takes the tree over: data buffers move into the result instead of being
    // copied. Null stays the null object (never a text that a string could
    // also be). Throws EncodingError for nesting beyond the format's limit.
    static PropertyListObject propertyList(CodedValue&& value);

private:
    static std::vector<std::uint8_t> encodedData(const PropertyListObject& object);
};

} // namespace velmora
