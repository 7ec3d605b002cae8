#include "coding/EncodingError.hpp"

namespace velmora {

EncodingError::EncodingError(std::string value, Context context)
    : value_(std::move(value)), context_(std::move(context)) {
    message_ = "invalidValue at " + describeCodingPath(context_.codingPath) + ": " +
               context_.debugDescription;
}

EncodingError EncodingError::invalidValue(std::string value, Context context) {
    return EncodingError(std::move(value), std::move(context));
}

} // namespace velmora
