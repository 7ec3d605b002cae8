#include "coding/DecodingError.hpp"

namespace velmora {

DecodingError::DecodingError(Kind kind, Context context, std::string type,
                             std::optional<CodingKey> key)
    : kind_(kind), context_(std::move(context)), type_(std::move(type)), key_(std::move(key)) {
    message_ = std::string(toString(kind_)) + " at " + describeCodingPath(context_.codingPath) +
               ": " + context_.debugDescription;
}

DecodingError DecodingError::typeMismatch(std::string type, Context context) {
    return DecodingError(Kind::typeMismatch, std::move(context), std::move(type), std::nullopt);
}

DecodingError DecodingError::valueNotFound(std::string type, Context context) {
    return DecodingError(Kind::valueNotFound, std::move(context), std::move(type), std::nullopt);
}

DecodingError DecodingError::keyNotFound(CodingKey key, Context context) {
    return DecodingError(Kind::keyNotFound, std::move(context), {}, std::move(key));
}

DecodingError DecodingError::dataCorrupted(Context context) {
    return DecodingError(Kind::dataCorrupted, std::move(context), {}, std::nullopt);
}

const char* toString(DecodingError::Kind kind) {
    switch (kind) {
    case DecodingError::Kind::typeMismatch:
        return "typeMismatch";
    case DecodingError::Kind::valueNotFound:
        return "valueNotFound";
    case DecodingError::Kind::keyNotFound:
        return "keyNotFound";
    case DecodingError::Kind::dataCorrupted:
        return "dataCorrupted";
    }
    return "unknown";
}

} // namespace velmora
