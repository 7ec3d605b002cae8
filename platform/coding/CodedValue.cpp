#include "coding/CodedValue.hpp"

#include <algorithm>
#include <ostream>
#include <unordered_map>

namespace velmora {

struct CodedDictionary::Index {
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const {
            return std::hash<std::string_view>{}(s);
        }
    };
    std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>> positions;
};

namespace {
// Below this many keys a linear scan beats hashing.
constexpr std::size_t indexThreshold = 8;
} // namespace

CodedDictionary::CodedDictionary() = default;
CodedDictionary::CodedDictionary(const CodedDictionary& other) : entries_(other.entries_) {
    rebuildIndex();
}
CodedDictionary::CodedDictionary(CodedDictionary&&) noexcept = default;
CodedDictionary& CodedDictionary::operator=(const CodedDictionary& other) {
    if (this != &other) {
        entries_ = other.entries_;
        rebuildIndex();
    }
    return *this;
}
CodedDictionary& CodedDictionary::operator=(CodedDictionary&&) noexcept = default;
CodedDictionary::~CodedDictionary() = default;

std::size_t CodedDictionary::indexOf(std::string_view key) const {
    if (index_) {
        const auto it = index_->positions.find(key);
        return it == index_->positions.end() ? npos : it->second;
    }
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].first == key) {
            return i;
        }
    }
    return npos;
}

const CodedValue* CodedDictionary::find(std::string_view key) const {
    const std::size_t i = indexOf(key);
    return i == npos ? nullptr : &entries_[i].second;
}

CodedValue* CodedDictionary::find(std::string_view key) {
    const std::size_t i = indexOf(key);
    return i == npos ? nullptr : &entries_[i].second;
}

std::size_t CodedDictionary::set(std::string key, CodedValue value) {
    if (const std::size_t i = indexOf(key); i != npos) {
        entries_[i].second = std::move(value);
        return i;
    }
    const std::size_t position = entries_.size();
    if (index_) {
        index_->positions.emplace(key, position);
    }
    entries_.emplace_back(std::move(key), std::move(value));
    if (!index_ && entries_.size() > indexThreshold) {
        rebuildIndex();
    }
    return position;
}

bool CodedDictionary::remove(std::string_view key) {
    const std::size_t i = indexOf(key);
    if (i == npos) {
        return false;
    }
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
    rebuildIndex();
    return true;
}

void CodedDictionary::rebuildIndex() {
    if (entries_.size() <= indexThreshold) {
        index_.reset();
        return;
    }
    index_ = std::make_unique<Index>();
    index_->positions.reserve(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        index_->positions.emplace(entries_[i].first, i);
    }
}

bool operator==(const CodedDictionary& a, const CodedDictionary& b) {
    return a.entries_ == b.entries_;
}

bool CodedValue::isNumber() const {
    switch (kind()) {
    case Kind::integer:
    case Kind::unsignedInteger:
    case Kind::float32:
    case Kind::float64:
        return true;
    default:
        return false;
    }
}

std::span<const std::uint8_t> CodedValue::bytes() const {
    if (const Bytes* v = data()) {
        return *v;
    }
    if (const SharedBytes* v = sharedBytes()) {
        return v->span();
    }
    return {};
}

bool operator==(const CodedValue& a, const CodedValue& b) {
    if (a.kind() == CodedValue::Kind::data && b.kind() == CodedValue::Kind::data) {
        const auto x = a.bytes(), y = b.bytes();
        return std::equal(x.begin(), x.end(), y.begin(), y.end());
    }
    return a.storage_ == b.storage_;
}

std::string_view CodedValue::describe(Kind kind) {
    switch (kind) {
    case Kind::null:
        return "null";
    case Kind::boolean:
        return "a boolean";
    case Kind::integer:
    case Kind::unsignedInteger:
    case Kind::float32:
    case Kind::float64:
        return "a number";
    case Kind::text:
        return "a string";
    case Kind::data:
        return "data";
    case Kind::array:
        return "an array";
    case Kind::dictionary:
        return "a dictionary";
    }
    return "a value";
}

std::ostream& operator<<(std::ostream& out, const CodedValue& value) {
    switch (value.kind()) {
    case CodedValue::Kind::null:
        return out << "null";
    case CodedValue::Kind::boolean:
        return out << (*value.boolean() ? "true" : "false");
    case CodedValue::Kind::integer:
        return out << *value.integer();
    case CodedValue::Kind::unsignedInteger:
        return out << *value.unsignedInteger() << "u";
    case CodedValue::Kind::float32:
        return out << *value.float32() << "f";
    case CodedValue::Kind::float64:
        return out << *value.float64();
    case CodedValue::Kind::text:
        return out << '"' << *value.text() << '"';
    case CodedValue::Kind::data:
        return out << "<" << value.bytes().size() << " bytes>";
    case CodedValue::Kind::array: {
        out << '[';
        const char* separator = "";
        for (const CodedValue& element : *value.array()) {
            out << separator << element;
            separator = ", ";
        }
        return out << ']';
    }
    case CodedValue::Kind::dictionary: {
        out << '{';
        const char* separator = "";
        for (const auto& [key, element] : *value.dictionary()) {
            out << separator << '"' << key << "\": " << element;
            separator = ", ";
        }
        return out << '}';
    }
    }
    return out;
}

} // namespace velmora
