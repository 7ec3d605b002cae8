#pragma once

#include "coding/Coding.hpp"
#include "coding/JSONSerialization.hpp"

#include <string>

namespace velmora {

// Encodes a value as JSON text (UTF-8). Throws EncodingError.
class JSONEncoder {
public:
    JSONWritingOptions outputFormatting;
    CodingUserInfo userInfo;

    template <class T> std::string encode(const T& value) const {
        ValueEncoder encoder;
        encoder.userInfo = userInfo;
        return JSONSerialization::write(encoder.encode(value), outputFormatting);
    }
};

} // namespace velmora
