#pragma once

#include "coding/SharedBytes.hpp"

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace velmora {

class CodedValue;

// A dictionary that keeps its keys in insertion order; setting an existing key
// replaces its value in place. Larger dictionaries get a hash index, so hostile
// inputs with many keys stay linear.
class CodedDictionary {
public:
    using Entry = std::pair<std::string, CodedValue>;

    CodedDictionary();
    CodedDictionary(const CodedDictionary&);
    CodedDictionary(CodedDictionary&&) noexcept;
    CodedDictionary& operator=(const CodedDictionary&);
    CodedDictionary& operator=(CodedDictionary&&) noexcept;
    ~CodedDictionary();

    std::size_t size() const;
    bool empty() const;
    bool contains(std::string_view key) const { return indexOf(key) != npos; }

    // Null when absent.
    const CodedValue* find(std::string_view key) const;
    CodedValue* find(std::string_view key);
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    std::size_t indexOf(std::string_view key) const;

    // Returns the position of the key (kept when it already existed).
    std::size_t set(std::string key, CodedValue value);
    // Removes a key, keeping the order of the others.
    bool remove(std::string_view key);

    const std::vector<Entry>& entries() const { return entries_; }
    Entry& entryAt(std::size_t index);
    const Entry& entryAt(std::size_t index) const;

    std::vector<Entry>::const_iterator begin() const;
    std::vector<Entry>::const_iterator end() const;

    // Same keys with equal values in the same order.
    friend bool operator==(const CodedDictionary& a, const CodedDictionary& b);

private:
    struct Index;
    void rebuildIndex();

    std::vector<Entry> entries_;
    std::unique_ptr<Index> index_;
};

// The value tree that coders exchange with their back ends (JSON, property
// lists, keyed archives). 32-bit floats stay distinct from doubles so that a
// back end can write each with its own shortest text.
class CodedValue {
public:
    enum class Kind {
        null,
        boolean,
        integer,
        unsignedInteger,
        float32,
        float64,
        text,
        data,
        array,
        dictionary
    };
    using Bytes = std::vector<std::uint8_t>;
    using Array = std::vector<CodedValue>;

    CodedValue() = default;
    CodedValue(std::nullptr_t) {}
    CodedValue(bool v) : storage_(v) {}
    template <std::signed_integral T> CodedValue(T v) : storage_(static_cast<std::int64_t>(v)) {}
    template <std::unsigned_integral T>
    requires(!std::same_as<T, bool>) CodedValue(T v) : storage_(static_cast<std::uint64_t>(v)) {}
    CodedValue(float v) : storage_(v) {}
    CodedValue(double v) : storage_(v) {}
    CodedValue(std::string v) : storage_(std::move(v)) {}
    CodedValue(const char* v) : storage_(std::string(v)) {}
    CodedValue(Bytes v) : storage_(std::move(v)) {}
    // Data shared with its owner rather than copied: a document's large images.
    CodedValue(SharedBytes v) : storage_(std::move(v)) {}
    CodedValue(Array v) : storage_(std::move(v)) {}
    CodedValue(CodedDictionary v) : storage_(std::move(v)) {}

    Kind kind() const {
        return std::holds_alternative<SharedBytes>(storage_) ? Kind::data
                                                             : static_cast<Kind>(storage_.index());
    }
    bool isNull() const { return kind() == Kind::null; }
    bool isNumber() const;

    // Checked accessors: null when the kind differs.
    const bool* boolean() const { return std::get_if<bool>(&storage_); }
    const std::int64_t* integer() const { return std::get_if<std::int64_t>(&storage_); }
    const std::uint64_t* unsignedInteger() const { return std::get_if<std::uint64_t>(&storage_); }
    const float* float32() const { return std::get_if<float>(&storage_); }
    const double* float64() const { return std::get_if<double>(&storage_); }
    const std::string* text() const { return std::get_if<std::string>(&storage_); }
    // Data held as its own vector; null for shared data, which `bytes()` and
    // `sharedBytes()` give.
    const Bytes* data() const { return std::get_if<Bytes>(&storage_); }
    Bytes* data() { return std::get_if<Bytes>(&storage_); }
    const SharedBytes* sharedBytes() const { return std::get_if<SharedBytes>(&storage_); }
    // The bytes of data either way; empty for other kinds.
    std::span<const std::uint8_t> bytes() const;
    const Array* array() const { return std::get_if<Array>(&storage_); }
    Array* array() { return std::get_if<Array>(&storage_); }
    const CodedDictionary* dictionary() const { return std::get_if<CodedDictionary>(&storage_); }
    CodedDictionary* dictionary() { return std::get_if<CodedDictionary>(&storage_); }

    // Strict: kinds must match (1, 1u, 1.0f and 1.0 are four different values);
    // NaN is unequal to itself. Data compares by content, shared or not.
    friend bool operator==(const CodedValue& a, const CodedValue& b);

    // "null", "a number", "a string", "data", "an array", "a dictionary".
    static std::string_view describe(Kind kind);

    // JSON-like text for logs and test failures; never fails. Floats end in
    // "f", data shows its size.
    friend std::ostream& operator<<(std::ostream& out, const CodedValue& value);

private:
    std::variant<std::monostate, bool, std::int64_t, std::uint64_t, float, double, std::string,
                 Bytes, Array, CodedDictionary, SharedBytes>
        storage_;
};

// Defined here, where CodedValue is complete: some compilers instantiate the
// entry type as soon as an inline body names it.
inline std::size_t CodedDictionary::size() const {
    return entries_.size();
}
inline bool CodedDictionary::empty() const {
    return entries_.empty();
}
inline CodedDictionary::Entry& CodedDictionary::entryAt(std::size_t index) {
    return entries_[index];
}
inline const CodedDictionary::Entry& CodedDictionary::entryAt(std::size_t index) const {
    return entries_[index];
}
inline std::vector<CodedDictionary::Entry>::const_iterator CodedDictionary::begin() const {
    return entries_.begin();
}
inline std::vector<CodedDictionary::Entry>::const_iterator CodedDictionary::end() const {
    return entries_.end();
}

} // namespace velmora
