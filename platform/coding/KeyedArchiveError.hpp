#pragma once

#include <stdexcept>
#include <string>

namespace velmora {

// Why a keyed archive could not be written or read.
class KeyedArchiveError : public std::runtime_error {
public:
    enum class Code {
        notAnArchive,     // not a property list, or not in the keyed archive's form
        corrupt,          // an object record that breaks the form
        classNotAllowed,  // secure coding: a class the reader did not name
        unsupportedClass, // a class this reader cannot build
        cycle,            // an object that contains itself
        nestingTooDeep,
        tooLarge,
        invalidValue, // a value the archive cannot hold
    };

    KeyedArchiveError(Code code, const std::string& message)
        : std::runtime_error(message), code_(code) {}

    Code code() const { return code_; }

private:
    Code code_;
};

} // namespace velmora
