#pragma once

#include "coding/CodingKey.hpp"

#include <exception>
#include <optional>
#include <string>

namespace velmora {

// Thrown when coded input does not hold what a decoder asks for. Never thrown
// for programming errors; those stop the program.
class DecodingError : public std::exception {
public:
    enum class Kind { typeMismatch, valueNotFound, keyNotFound, dataCorrupted };

    struct Context {
        CodingPath codingPath;
        std::string debugDescription;
    };

    // `type` names the type that was asked for.
    static DecodingError typeMismatch(std::string type, Context context);
    static DecodingError valueNotFound(std::string type, Context context);
    static DecodingError keyNotFound(CodingKey key, Context context);
    static DecodingError dataCorrupted(Context context);

    Kind kind() const { return kind_; }
    const CodingPath& codingPath() const { return context_.codingPath; }
    const std::string& debugDescription() const { return context_.debugDescription; }
    // The type asked for (type mismatch, value not found); empty otherwise.
    const std::string& typeName() const { return type_; }
    // The missing key (key not found).
    const std::optional<CodingKey>& key() const { return key_; }

    // "keyNotFound at layers[0].super: No value associated with key ...".
    const char* what() const noexcept override { return message_.c_str(); }

private:
    DecodingError(Kind kind, Context context, std::string type, std::optional<CodingKey> key);

    Kind kind_;
    Context context_;
    std::string type_;
    std::optional<CodingKey> key_;
    std::string message_;
};

const char* toString(DecodingError::Kind kind);

} // namespace velmora
