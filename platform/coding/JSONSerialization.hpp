#pragma once

#include "coding/CodedValue.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

struct JSONWritingOptions {
    bool prettyPrinted = false; // two-space indent, "key" : value
    bool sortedKeys = false;    // byte order of the UTF-8 keys; else insertion order
};

// Input beyond these limits is refused before it can exhaust memory or stack.
struct JSONReadingLimits {
    std::size_t maximumLength = 16 * 1024 * 1024;
    std::size_t maximumDepth = 512;
};

// Between JSON text and the value tree. Data is written as base64 text, a
// 32-bit float as the shortest text that reads back as the same float, a
// double as the shortest text that reads back as the same double.
class JSONSerialization {
public:
    // Throws EncodingError for non-finite numbers, text that is not UTF-8 and
    // trees nested deeper than the reading limit.
    static std::string write(const CodedValue& value, const JSONWritingOptions& options = {});

    // Throws DecodingError (dataCorrupted) for anything that is not one valid
    // JSON value within the limits. Numbers read as integers when they have no
    // fraction or exponent and fit 64 bits, else as doubles.
    static CodedValue read(std::string_view text, const JSONReadingLimits& limits = {});
};

} // namespace velmora
