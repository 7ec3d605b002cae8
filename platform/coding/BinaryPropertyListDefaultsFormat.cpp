#include "coding/BinaryPropertyListDefaultsFormat.hpp"

#include "coding/BinaryPropertyList.hpp"
#include "foundation/UserDefaults.hpp"

namespace velmora {

namespace {

DefaultsValue toDefaults(const PropertyListObject& o) {
    using Kind = PropertyListObject::Kind;
    switch (o.kind()) {
    case Kind::boolean:
        return DefaultsValue(*o.boolean());
    case Kind::integer:
        if (!o.integer()->int64Value()) {
            throw UserDefaultsError("The user defaults hold an integer beyond 64 bits");
        }
        return DefaultsValue(*o.integer()->int64Value());
    case Kind::real:
        return DefaultsValue(o.real()->value);
    case Kind::date:
        return DefaultsValue(o.date()->secondsSinceReferenceDate);
    case Kind::string:
        return DefaultsValue(*o.string());
    case Kind::data:
        return DefaultsValue(o.data()->toVector());
    case Kind::array: {
        DefaultsValue::Array out;
        out.reserve(o.array()->size());
        for (const auto& e : *o.array()) {
            out.push_back(toDefaults(e));
        }
        return DefaultsValue(std::move(out));
    }
    case Kind::dictionary: {
        DefaultsValue::Dictionary out;
        for (const auto& e : o.dictionary()->entries()) {
            out.emplace(e.key, toDefaults(e.value));
        }
        return DefaultsValue(std::move(out));
    }
    case Kind::null:
    case Kind::uid:
    case Kind::set:
        break;
    }
    throw UserDefaultsError(std::string("The user defaults hold a ") +
                            std::string(describe(o.kind())) + ", which they cannot store");
}

PropertyListObject toPropertyList(const DefaultsValue& v) {
    switch (v.kind()) {
    case DefaultsValue::Kind::boolean:
        return *v.boolValue();
    case DefaultsValue::Kind::integer:
        return PropertyListInteger(*v.integerValue());
    case DefaultsValue::Kind::real:
        return *v.realValue();
    case DefaultsValue::Kind::string:
        return *v.stringValue();
    case DefaultsValue::Kind::data:
        return SharedBytes::copy(*v.dataValue());
    case DefaultsValue::Kind::array: {
        PropertyListArray out;
        out.reserve(v.arrayValue()->size());
        for (const auto& e : *v.arrayValue()) {
            out.push_back(toPropertyList(e));
        }
        return out;
    }
    case DefaultsValue::Kind::dictionary: {
        PropertyListDictionary out;
        out.reserve(v.dictionaryValue()->size());
        for (const auto& [key, value] : *v.dictionaryValue()) {
            out.append(key, toPropertyList(value));
        }
        return out;
    }
    }
    return PropertyListObject();
}

} // namespace

bool BinaryPropertyListDefaultsFormat::recognises(std::span<const std::uint8_t> bytes) const {
    return BinaryPropertyList::hasSignature(bytes);
}

DefaultsValue::Dictionary
BinaryPropertyListDefaultsFormat::decode(std::span<const std::uint8_t> bytes) const {
    PropertyListObject root;
    try {
        root = BinaryPropertyList::decode(bytes);
    } catch (const PropertyListError& e) {
        throw UserDefaultsError(std::string("The user defaults file is damaged: ") + e.what());
    }
    if (root.dictionary() == nullptr) {
        throw UserDefaultsError("The user defaults file does not hold a dictionary");
    }
    DefaultsValue::Dictionary out;
    for (const auto& e : root.dictionary()->entries()) {
        out.emplace(e.key, toDefaults(e.value));
    }
    return out;
}

std::vector<std::uint8_t>
BinaryPropertyListDefaultsFormat::encode(const DefaultsValue::Dictionary& values) const {
    PropertyListDictionary root;
    root.reserve(values.size());
    for (const auto& [key, value] : values) {
        root.append(key, toPropertyList(value));
    }
    try {
        return BinaryPropertyList::encode(root);
    } catch (const PropertyListError& e) {
        throw UserDefaultsError(std::string("The user defaults cannot be written: ") + e.what());
    }
}

void BinaryPropertyListDefaultsFormat::install() {
    UserDefaults::setFileFormat(std::make_shared<BinaryPropertyListDefaultsFormat>());
}

} // namespace velmora
