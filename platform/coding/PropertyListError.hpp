#pragma once

#include <stdexcept>
#include <string>

namespace velmora {

// Why reading or writing a property list failed.
class PropertyListError : public std::runtime_error {
public:
    enum class Code {
        invalidHeader,       // not a binary property list
        invalidTrailer,      // trailer sizes or counts make no sense for the file
        offsetOutOfRange,    // an object offset or a length points outside the object area
        referenceOutOfRange, // an object reference names no object
        invalidObject,       // unknown marker or malformed object
        invalidString,       // bad ASCII or UTF-16 text
        invalidKey,          // a dictionary key that is not a string, or a repeated key
        cycle,               // an object contains itself
        nestingTooDeep,      // collections nested deeper than the limit
        tooLarge,            // a value or an expansion beyond what the format or the limits allow
        fileError,           // the file could not be read or written
    };

    PropertyListError(Code code, const std::string& message)
        : std::runtime_error(message), code_(code) {}

    Code code() const { return code_; }

private:
    Code code_;
};

} // namespace velmora
