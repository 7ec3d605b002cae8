#include "coding/CodingKey.hpp"

namespace velmora {

CodingKey CodingKey::index(std::size_t position) {
    CodingKey key("Index " + std::to_string(position));
    key.intValue = static_cast<std::int64_t>(position);
    return key;
}

std::string describeCodingPath(const CodingPath& path) {
    if (path.empty()) {
        return "<root>";
    }
    std::string out;
    for (const CodingKey& key : path) {
        if (key.intValue) {
            out += "[" + std::to_string(*key.intValue) + "]";
        } else {
            if (!out.empty()) {
                out += '.';
            }
            out += key.stringValue;
        }
    }
    return out;
}

CodingPath appending(const CodingPath& path, CodingKey key) {
    CodingPath out;
    out.reserve(path.size() + 1);
    out = path;
    out.push_back(std::move(key));
    return out;
}

} // namespace velmora
