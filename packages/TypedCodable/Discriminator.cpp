#include "TypedCodable/Discriminator.hpp"

namespace velmora {

std::string_view rawValue(Discriminator) {
    return "type";
}

std::optional<Discriminator> discriminatorFromRawValue(std::string_view text) {
    if (text == "type") {
        return Discriminator::type;
    }
    return std::nullopt;
}

std::string description(Discriminator key) {
    return "Discriminator(stringValue: \"" + std::string(stringValue(key)) + "\", intValue: nil)";
}

} // namespace velmora
