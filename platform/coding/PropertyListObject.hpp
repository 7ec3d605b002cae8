#pragma once

#include "coding/SharedBytes.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace velmora {

class PropertyListObject;

// An integer of the property-list format: any int64 value, and unsigned values
// up to 2^64 - 1, which the format keeps apart from negative ones.
class PropertyListInteger {
public:
    constexpr PropertyListInteger() = default;
    constexpr PropertyListInteger(std::int64_t v) : bits_(static_cast<std::uint64_t>(v)) {}
    static constexpr PropertyListInteger fromUnsigned(std::uint64_t v) {
        PropertyListInteger r;
        r.bits_ = v;
        r.isLargeUnsigned_ = v > static_cast<std::uint64_t>(INT64_MAX);
        return r;
    }

    // True for values of 2^63 and above, which have no int64 form.
    constexpr bool isLargeUnsigned() const { return isLargeUnsigned_; }
    constexpr bool isNegative() const {
        return !isLargeUnsigned_ && static_cast<std::int64_t>(bits_) < 0;
    }
    std::optional<std::int64_t> int64Value() const;
    std::optional<std::uint64_t> uint64Value() const;
    // The raw 64 bits (two's complement for negative values).
    constexpr std::uint64_t bits() const { return bits_; }

    friend constexpr bool operator==(const PropertyListInteger&,
                                     const PropertyListInteger&) = default;

private:
    std::uint64_t bits_ = 0;
    bool isLargeUnsigned_ = false;
};

struct PropertyListReal {
    double value = 0;
    // Written in 4 bytes; `value` then holds a float exactly.
    bool isSinglePrecision = false;
    friend bool operator==(const PropertyListReal&, const PropertyListReal&) = default;
};

struct PropertyListDate {
    // Seconds since 2001-01-01 00:00:00 UTC.
    double secondsSinceReferenceDate = 0;
    friend bool operator==(const PropertyListDate&, const PropertyListDate&) = default;
};

// The keyed archive's object reference.
struct PropertyListUID {
    std::uint64_t value = 0;
    friend bool operator==(const PropertyListUID&, const PropertyListUID&) = default;
};

using PropertyListArray = std::vector<PropertyListObject>;

struct PropertyListSet {
    std::vector<PropertyListObject> elements;
    friend bool operator==(const PropertyListSet&, const PropertyListSet&);
};

// String-keyed entries in insertion order. Keys are unique.
class PropertyListDictionary {
public:
    struct Entry;

    // Out of line: Entry is not complete yet.
    PropertyListDictionary();
    ~PropertyListDictionary();
    PropertyListDictionary(const PropertyListDictionary&);
    PropertyListDictionary(PropertyListDictionary&&) noexcept;
    PropertyListDictionary& operator=(const PropertyListDictionary&);
    PropertyListDictionary& operator=(PropertyListDictionary&&) noexcept;

    // Replaces the value of an existing key, else appends.
    void set(std::string key, PropertyListObject value);
    // Appends without looking for the key; the caller guarantees it is new.
    void append(std::string key, PropertyListObject value);
    const PropertyListObject* find(std::string_view key) const;
    bool contains(std::string_view key) const { return find(key) != nullptr; }

    const std::vector<Entry>& entries() const { return entries_; }
    // Moves the entries out, leaving the dictionary empty.
    std::vector<Entry> takeEntries();
    std::size_t size() const;
    bool empty() const;
    void reserve(std::size_t n);

    friend bool operator==(const PropertyListDictionary&, const PropertyListDictionary&);

private:
    std::vector<Entry> entries_;
};

// One object of a property list: a value type holding its whole subtree.
class PropertyListObject {
public:
    enum class Kind : std::uint8_t {
        null,
        boolean,
        integer,
        real,
        date,
        data,
        string,
        uid,
        array,
        set,
        dictionary,
    };

    PropertyListObject() = default; // null
    PropertyListObject(std::nullptr_t) {}
    PropertyListObject(bool v) : value_(v) {}
    PropertyListObject(int v) : value_(PropertyListInteger(v)) {}
    PropertyListObject(std::int64_t v) : value_(PropertyListInteger(v)) {}
    PropertyListObject(PropertyListInteger v) : value_(v) {}
    PropertyListObject(double v) : value_(PropertyListReal{v, false}) {}
    PropertyListObject(PropertyListReal v) : value_(v) {}
    PropertyListObject(PropertyListDate v) : value_(v) {}
    PropertyListObject(SharedBytes v) : value_(std::move(v)) {}
    PropertyListObject(std::string v) : value_(std::move(v)) {}
    PropertyListObject(const char* v) : value_(std::string(v)) {}
    PropertyListObject(std::string_view v) : value_(std::string(v)) {}
    PropertyListObject(PropertyListUID v) : value_(v) {}
    PropertyListObject(PropertyListArray v) : value_(std::move(v)) {}
    PropertyListObject(PropertyListSet v) : value_(std::move(v)) {}
    PropertyListObject(PropertyListDictionary v) : value_(std::move(v)) {}

    Kind kind() const { return static_cast<Kind>(value_.index()); }
    bool isNull() const { return kind() == Kind::null; }

    // Each accessor answers nullptr when the object is of another kind.
    const bool* boolean() const { return std::get_if<bool>(&value_); }
    const PropertyListInteger* integer() const { return std::get_if<PropertyListInteger>(&value_); }
    const PropertyListReal* real() const { return std::get_if<PropertyListReal>(&value_); }
    const PropertyListDate* date() const { return std::get_if<PropertyListDate>(&value_); }
    const SharedBytes* data() const { return std::get_if<SharedBytes>(&value_); }
    const std::string* string() const { return std::get_if<std::string>(&value_); }
    std::string* string() { return std::get_if<std::string>(&value_); }
    const PropertyListUID* uid() const { return std::get_if<PropertyListUID>(&value_); }
    const PropertyListArray* array() const { return std::get_if<PropertyListArray>(&value_); }
    PropertyListArray* array() { return std::get_if<PropertyListArray>(&value_); }
    const PropertyListSet* set() const { return std::get_if<PropertyListSet>(&value_); }
    PropertyListSet* set() { return std::get_if<PropertyListSet>(&value_); }
    const PropertyListDictionary* dictionary() const {
        return std::get_if<PropertyListDictionary>(&value_);
    }
    PropertyListDictionary* dictionary() { return std::get_if<PropertyListDictionary>(&value_); }

    friend bool operator==(const PropertyListObject& a, const PropertyListObject& b) {
        return a.value_ == b.value_;
    }

private:
    std::variant<std::monostate, bool, PropertyListInteger, PropertyListReal, PropertyListDate,
                 SharedBytes, std::string, PropertyListUID, PropertyListArray, PropertyListSet,
                 PropertyListDictionary>
        value_;
};

struct PropertyListDictionary::Entry {
    std::string key;
    PropertyListObject value;
    friend bool operator==(const Entry&, const Entry&) = default;
};

inline std::size_t PropertyListDictionary::size() const {
    return entries_.size();
}
inline bool PropertyListDictionary::empty() const {
    return entries_.empty();
}
inline std::vector<PropertyListDictionary::Entry> PropertyListDictionary::takeEntries() {
    return std::move(entries_);
}
inline void PropertyListDictionary::reserve(std::size_t n) {
    entries_.reserve(n);
}

// The kind's name as error messages print it.
std::string_view describe(PropertyListObject::Kind kind);

} // namespace velmora
