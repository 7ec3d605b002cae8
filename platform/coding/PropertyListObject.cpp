#include "coding/PropertyListObject.hpp"

#include <algorithm>

namespace velmora {

std::optional<std::int64_t> PropertyListInteger::int64Value() const {
    if (isLargeUnsigned_) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(bits_);
}

std::optional<std::uint64_t> PropertyListInteger::uint64Value() const {
    if (isNegative()) {
        return std::nullopt;
    }
    return bits_;
}

bool operator==(const PropertyListSet& a, const PropertyListSet& b) {
    return a.elements == b.elements;
}

PropertyListDictionary::PropertyListDictionary() = default;
PropertyListDictionary::~PropertyListDictionary() = default;
PropertyListDictionary::PropertyListDictionary(const PropertyListDictionary&) = default;
PropertyListDictionary::PropertyListDictionary(PropertyListDictionary&&) noexcept = default;
PropertyListDictionary& PropertyListDictionary::operator=(const PropertyListDictionary&) = default;
PropertyListDictionary&
PropertyListDictionary::operator=(PropertyListDictionary&&) noexcept = default;

void PropertyListDictionary::set(std::string key, PropertyListObject value) {
    for (auto& e : entries_) {
        if (e.key == key) {
            e.value = std::move(value);
            return;
        }
    }
    append(std::move(key), std::move(value));
}

void PropertyListDictionary::append(std::string key, PropertyListObject value) {
    entries_.push_back(Entry{std::move(key), std::move(value)});
}

const PropertyListObject* PropertyListDictionary::find(std::string_view key) const {
    for (const auto& e : entries_) {
        if (e.key == key) {
            return &e.value;
        }
    }
    return nullptr;
}

// Dictionaries compare as maps: the order of entries does not matter.
bool operator==(const PropertyListDictionary& a, const PropertyListDictionary& b) {
    if (a.entries_.size() != b.entries_.size()) {
        return false;
    }
    return std::all_of(a.entries_.begin(), a.entries_.end(), [&](const auto& e) {
        const PropertyListObject* other = b.find(e.key);
        return other != nullptr && *other == e.value;
    });
}

std::string_view describe(PropertyListObject::Kind kind) {
    switch (kind) {
    case PropertyListObject::Kind::null:
        return "null";
    case PropertyListObject::Kind::boolean:
        return "boolean";
    case PropertyListObject::Kind::integer:
        return "integer";
    case PropertyListObject::Kind::real:
        return "real";
    case PropertyListObject::Kind::date:
        return "date";
    case PropertyListObject::Kind::data:
        return "data";
    case PropertyListObject::Kind::string:
        return "string";
    case PropertyListObject::Kind::uid:
        return "UID";
    case PropertyListObject::Kind::array:
        return "array";
    case PropertyListObject::Kind::set:
        return "set";
    case PropertyListObject::Kind::dictionary:
        return "dictionary";
    }
    return "unknown";
}

} // namespace velmora
