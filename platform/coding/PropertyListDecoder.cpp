#include "coding/PropertyListDecoder.hpp"

#include "coding/BinaryPropertyList.hpp"

namespace velmora {

namespace {

CodedValue convert(const PropertyListObject& object, CodingPath& path) {
    if (path.size() > BinaryPropertyList::maximumDepth) {
        throw DecodingError::dataCorrupted({path, "The property list is nested too deeply."});
    }
    using Kind = PropertyListObject::Kind;
    switch (object.kind()) {
    case Kind::null:
        return CodedValue();
    case Kind::boolean:
        return *object.boolean();
    case Kind::integer:
        if (object.integer()->isLargeUnsigned()) {
            return *object.integer()->uint64Value();
        }
        return *object.integer()->int64Value();
    case Kind::real:
        if (object.real()->isSinglePrecision) {
            return static_cast<float>(object.real()->value);
        }
        return object.real()->value;
    case Kind::date:
        return object.date()->secondsSinceReferenceDate;
    case Kind::data:
        // Shared, not copied: patches and previews are most of a document.
        return *object.data();
    case Kind::string:
        return *object.string();
    case Kind::uid:
        throw DecodingError::dataCorrupted(
            {path, "The property list holds an object reference where a value belongs."});
    case Kind::array:
    case Kind::set: {
        const auto& elements =
            object.kind() == Kind::array ? *object.array() : object.set()->elements;
        CodedValue::Array out;
        out.reserve(elements.size());
        for (std::size_t i = 0; i < elements.size(); ++i) {
            path.push_back(CodingKey::index(i));
            out.push_back(convert(elements[i], path));
            path.pop_back();
        }
        return out;
    }
    case Kind::dictionary: {
        CodedDictionary out;
        for (const auto& e : object.dictionary()->entries()) {
            path.push_back(CodingKey(e.key));
            out.set(e.key, convert(e.value, path));
            path.pop_back();
        }
        return out;
    }
    }
    return CodedValue();
}

} // namespace

CodedValue PropertyListDecoder::codedValue(const PropertyListObject& object) {
    CodingPath path;
    return convert(object, path);
}

PropertyListObject PropertyListDecoder::propertyList(std::span<const std::uint8_t> data) {
    try {
        return BinaryPropertyList::decode(data);
    } catch (const PropertyListError& e) {
        throw DecodingError::dataCorrupted(
            {{}, std::string("The given data was not a valid property list. ") + e.what()});
    }
}

} // namespace velmora
