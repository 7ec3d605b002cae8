#include "coding/PropertyListEncoder.hpp"

#include "coding/BinaryPropertyList.hpp"

namespace velmora {

namespace {

PropertyListObject convert(CodedValue&& value, CodingPath& path) {
    if (path.size() > BinaryPropertyList::maximumDepth) {
        throw EncodingError::invalidValue(
            "nesting", {path, "The value is nested too deeply for a property list."});
    }
    using Kind = CodedValue::Kind;
    switch (value.kind()) {
    case Kind::null:
        return PropertyListObject();
    case Kind::boolean:
        return *value.boolean();
    case Kind::integer:
        return PropertyListInteger(*value.integer());
    case Kind::unsignedInteger:
        return PropertyListInteger::fromUnsigned(*value.unsignedInteger());
    case Kind::float32:
        return PropertyListReal{*value.float32(), true};
    case Kind::float64:
        return *value.float64();
    case Kind::text:
        return *value.text();
    case Kind::data:
        if (const SharedBytes* shared = value.sharedBytes()) {
            return *shared;
        }
        return SharedBytes(std::move(*value.data()));
    case Kind::array: {
        PropertyListArray out;
        out.reserve(value.array()->size());
        for (std::size_t i = 0; i < value.array()->size(); ++i) {
            path.push_back(CodingKey::index(i));
            out.push_back(convert(std::move((*value.array())[i]), path));
            path.pop_back();
        }
        return out;
    }
    case Kind::dictionary: {
        CodedDictionary& dictionary = *value.dictionary();
        PropertyListDictionary out;
        out.reserve(dictionary.size());
        for (std::size_t i = 0; i < dictionary.size(); ++i) {
            auto& [key, member] = dictionary.entryAt(i);
            path.push_back(CodingKey(key));
            // Keys are unique in the tree already.
            out.append(key, convert(std::move(member), path));
            path.pop_back();
        }
        return out;
    }
    }
    return PropertyListObject();
}

} // namespace

PropertyListObject PropertyListEncoder::propertyList(CodedValue&& value) {
    CodingPath path;
    return convert(std::move(value), path);
}

std::vector<std::uint8_t> PropertyListEncoder::encodedData(const PropertyListObject& object) {
    try {
        return BinaryPropertyList::encode(object);
    } catch (const PropertyListError& e) {
        throw EncodingError::invalidValue("property list", {{}, e.what()});
    }
}

} // namespace velmora
