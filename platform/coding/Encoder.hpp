#pragma once

// Include "coding/Coding.hpp" to encode values: it defines the templates
// declared here.

#include "coding/CodedValue.hpp"
#include "coding/CodingKey.hpp"
#include "coding/CodingUserInfo.hpp"

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace velmora {

class KeyedEncodingContainer;
class UnkeyedEncodingContainer;
class SingleValueEncodingContainer;
class ValueEncoder;

namespace detail {
struct EncodingStorage {
    CodedValue root = CodedDictionary();
    CodingUserInfo userInfo;
};
// Positions from the root down to one slot of the tree. Positions stay valid
// while the tree grows, unlike pointers into its vectors.
using SlotPath = std::vector<std::size_t>;
} // namespace detail

// Writes one value into the tree. A type encodes itself through exactly one
// kind of container; asking again for the same kind returns a container over
// the same storage, so a base and its subclass can share one keyed container.
// A value that encodes nothing is written as an empty dictionary.
class Encoder {
public:
    const CodingPath& codingPath() const { return codingPath_; }
    const CodingUserInfo& userInfo() const { return storage_->userInfo; }

    KeyedEncodingContainer container();
    UnkeyedEncodingContainer unkeyedContainer();
    SingleValueEncodingContainer singleValueContainer();

private:
    friend class KeyedEncodingContainer;
    friend class UnkeyedEncodingContainer;
    friend class SingleValueEncodingContainer;
    friend class ValueEncoder;
    enum class Use { none, keyed, unkeyed, single };

    Encoder(std::shared_ptr<detail::EncodingStorage> storage, detail::SlotPath slot,
            CodingPath codingPath);
    CodedValue& slot() const;
    Encoder child(std::size_t position, CodingKey key) const;
    template <class T> static void encodeInto(const T& value, Encoder& encoder);

    std::shared_ptr<detail::EncodingStorage> storage_;
    detail::SlotPath slot_;
    CodingPath codingPath_;
    Use use_ = Use::none;
};

// Writes keyed values into a dictionary, in the order they are written.
// Writing a key again replaces its value in place.
class KeyedEncodingContainer {
public:
    const CodingPath& codingPath() const { return owner_.codingPath(); }

    template <class T> void encode(const T& value, std::string_view key);
    // Writes nothing when the value is empty.
    template <class T> void encodeIfPresent(const std::optional<T>& value, std::string_view key);
    void encodeNil(std::string_view key);

    KeyedEncodingContainer nestedContainer(std::string_view key);
    UnkeyedEncodingContainer nestedUnkeyedContainer(std::string_view key);
    // An encoder for the base class's part, stored under "super".
    Encoder superEncoder() { return superEncoder(CodingKey::super().stringValue); }
    Encoder superEncoder(std::string_view key);

private:
    friend class Encoder;
    explicit KeyedEncodingContainer(Encoder owner) : owner_(std::move(owner)) {}
    std::size_t place(std::string_view key, CodedValue value);

    Encoder owner_;
};

// Appends values to an array.
class UnkeyedEncodingContainer {
public:
    const CodingPath& codingPath() const { return owner_.codingPath(); }
    std::size_t count() const;

    template <class T> void encode(const T& value);
    void encodeNil();

    KeyedEncodingContainer nestedContainer();
    UnkeyedEncodingContainer nestedUnkeyedContainer();
    // An encoder for one more element of the array.
    Encoder superEncoder();

private:
    friend class Encoder;
    explicit UnkeyedEncodingContainer(Encoder owner) : owner_(std::move(owner)) {}
    std::size_t append(CodedValue value);

    Encoder owner_;
};

// Writes the one value of an encoder.
class SingleValueEncodingContainer {
public:
    const CodingPath& codingPath() const { return owner_.codingPath(); }

    template <class T> void encode(const T& value);
    void encodeNil();

private:
    friend class Encoder;
    explicit SingleValueEncodingContainer(Encoder owner) : owner_(std::move(owner)) {}

    Encoder owner_;
};

} // namespace velmora
