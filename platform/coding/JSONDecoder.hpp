#pragma once

#include "coding/Coding.hpp"
#include "coding/JSONSerialization.hpp"

#include <cstdint>
#include <span>
#include <string_view>

namespace velmora {

// Decodes a value from JSON text. Throws DecodingError, dataCorrupted for
// text that is not JSON or exceeds the limits.
class JSONDecoder {
public:
    CodingUserInfo userInfo;
    JSONReadingLimits limits;

    template <class T> T decode(std::string_view json) const {
        ValueDecoder decoder;
        decoder.userInfo = userInfo;
        decoder.options.dataFromBase64Text = true;
        return decoder.decode<T>(JSONSerialization::read(json, limits));
    }

    template <class T> T decode(std::span<const std::uint8_t> json) const {
        return decode<T>(std::string_view(reinterpret_cast<const char*>(json.data()), json.size()));
    }
};

} // namespace velmora
