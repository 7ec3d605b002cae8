#include "TypedCodable/TypedCodable.hpp"

namespace velmora {

namespace {
constexpr std::string_view typeKey = "type";
} // namespace

void TypedEncodable::encode(Encoder& encoder) const {
    encoder.container().encode(unqualifiedClassName(typeid(*this)), typeKey);
    typedEncode(encoder);
}

std::string unqualifiedClassName(const std::type_info& type) {
    const std::string name = detail::demangledTypeName(type);
    // The last "::" outside template arguments ends the qualification.
    std::size_t start = 0;
    int depth = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '<' || c == '(') {
            ++depth;
        } else if (c == '>' || c == ')') {
            --depth;
        } else if (depth == 0 && c == ':' && i + 1 < name.size() && name[i + 1] == ':') {
            start = i + 2;
            ++i;
        }
    }
    return name.substr(start);
}

} // namespace velmora
