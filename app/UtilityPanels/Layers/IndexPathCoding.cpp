#include "UtilityPanels/Layers/IndexPathCoding.hpp"

#include "coding/JSONDecoder.hpp"
#include "coding/JSONEncoder.hpp"

#include <exception>

namespace velmora {

void Coding<IndexPath>::encode(const IndexPath& path, Encoder& encoder) {
    UnkeyedEncodingContainer list = encoder.unkeyedContainer();
    for (const IndexPath::Element index : path) {
        list.encode(index);
    }
}

IndexPath Coding<IndexPath>::decode(Decoder& decoder) {
    UnkeyedDecodingContainer list = decoder.unkeyedContainer();
    IndexPath path;
    while (!list.isAtEnd()) {
        path.append(list.decode<IndexPath::Element>());
    }
    return path;
}

std::vector<std::uint8_t> encodeIndexPathJSON(const IndexPath& path) {
    const std::string text = JSONEncoder().encode(path);
    return {text.begin(), text.end()};
}

std::optional<IndexPath> decodeIndexPathJSON(std::span<const std::uint8_t> data) {
    try {
        return JSONDecoder().decode<IndexPath>(data);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace velmora
