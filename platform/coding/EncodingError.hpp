#pragma once

#include "coding/CodingKey.hpp"

#include <exception>
#include <string>

namespace velmora {

// Thrown when a value cannot be written in the chosen format (a non-finite
// number in JSON, text that is not UTF-8, a value that encoded nothing).
class EncodingError : public std::exception {
public:
    enum class Kind { invalidValue };

    struct Context {
        CodingPath codingPath;
        std::string debugDescription;
    };

    // `value` describes the refused value, e.g. "nan" or "Float".
    static EncodingError invalidValue(std::string value, Context context);

    Kind kind() const { return Kind::invalidValue; }
    const std::string& value() const { return value_; }
    const CodingPath& codingPath() const { return context_.codingPath; }
    const std::string& debugDescription() const { return context_.debugDescription; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    EncodingError(std::string value, Context context);

    std::string value_;
    Context context_;
    std::string message_;
};

} // namespace velmora
