#pragma once

// Include "coding/Coding.hpp" to decode values: it defines the templates
// declared here.

#include "coding/CodedValue.hpp"
#include "coding/CodingKey.hpp"
#include "coding/CodingUserInfo.hpp"
#include "coding/DecodingError.hpp"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class KeyedDecodingContainer;
class UnkeyedDecodingContainer;
class SingleValueDecodingContainer;
class ValueDecoder;

// How a back end's tree maps onto the types asked for.
struct DecodingOptions {
    // JSON keeps data as base64 text; decoding data then accepts such text.
    bool dataFromBase64Text = false;
};

namespace detail {
struct DecodingStorage {
    // Set when the decoder owns the tree; otherwise the caller keeps it alive.
    CodedValue ownedRoot;
    DecodingOptions options;
    CodingUserInfo userInfo;
};
} // namespace detail

// Reads one value of the tree. Every failure caused by the input is thrown
// as a DecodingError carrying the coding path of the offending value.
class Decoder {
public:
    const CodingPath& codingPath() const { return codingPath_; }
    const CodingUserInfo& userInfo() const { return storage_->userInfo; }
    const DecodingOptions& options() const { return storage_->options; }
    // The raw value, for back ends and diagnostics.
    const CodedValue& value() const { return *value_; }

    KeyedDecodingContainer container() const;
    UnkeyedDecodingContainer unkeyedContainer() const;
    SingleValueDecodingContainer singleValueContainer() const;

private:
    friend class KeyedDecodingContainer;
    friend class UnkeyedDecodingContainer;
    friend class SingleValueDecodingContainer;
    friend class ValueDecoder;

    Decoder(std::shared_ptr<const detail::DecodingStorage> storage, const CodedValue* value,
            CodingPath codingPath)
        : storage_(std::move(storage)), value_(value), codingPath_(std::move(codingPath)) {}
    Decoder child(const CodedValue& value, CodingKey key) const;
    // Decodes `value` as a T at this decoder's path.
    template <class T> T decodeHere() const;

    std::shared_ptr<const detail::DecodingStorage> storage_;
    const CodedValue* value_;
    CodingPath codingPath_;
};

// Reads a dictionary by key.
class KeyedDecodingContainer {
public:
    const CodingPath& codingPath() const { return owner_.codingPath(); }
    // Keys in the order they were written.
    std::vector<std::string> allKeys() const;
    bool contains(std::string_view key) const;

    // Throws keyNotFound when the key is missing, valueNotFound when it holds
    // null, typeMismatch or dataCorrupted when its value is not a T.
    template <class T> T decode(std::string_view key) const;
    // Empty when the key is missing or holds null; other failures throw.
    template <class T> std::optional<T> decodeIfPresent(std::string_view key) const;
    // Whether the value under the key is null; throws keyNotFound when missing.
    bool decodeNil(std::string_view key) const;

    KeyedDecodingContainer nestedContainer(std::string_view key) const;
    UnkeyedDecodingContainer nestedUnkeyedContainer(std::string_view key) const;
    // A decoder for the base class's part under "super" (over null when absent).
    Decoder superDecoder() const { return superDecoder(CodingKey::super().stringValue); }
    Decoder superDecoder(std::string_view key) const;

    // A data-corrupted error at the value under `key`, for checks of a type's own.
    DecodingError dataCorruptedError(std::string_view key, std::string debugDescription) const;

private:
    friend class Decoder;
    KeyedDecodingContainer(Decoder owner, const CodedDictionary* dictionary)
        : owner_(std::move(owner)), dictionary_(dictionary) {}
    const CodedValue& require(std::string_view key) const;

    Decoder owner_;
    const CodedDictionary* dictionary_;
};

// Reads an array front to back. The position moves on only when a read
// succeeds, so a caller may retry an element as another type.
class UnkeyedDecodingContainer {
public:
    const CodingPath& codingPath() const { return owner_.codingPath(); }
    std::size_t count() const { return array_->size(); }
    bool isAtEnd() const { return currentIndex_ >= array_->size(); }
    std::size_t currentIndex() const { return currentIndex_; }

    // Throws valueNotFound at the end and for null.
    template <class T> T decode();
    // Empty (and moves on) for null; empty at the end.
    template <class T> std::optional<T> decodeIfPresent();
    // Moves on and answers true when the current element is null.
    bool decodeNil();
    // Moves past the current element without reading it.
    void skip();

    KeyedDecodingContainer nestedContainer();
    UnkeyedDecodingContainer nestedUnkeyedContainer();
    // A decoder over the current element; moves on.
    Decoder superDecoder();

    DecodingError dataCorruptedError(std::string debugDescription) const;

private:
    friend class Decoder;
    UnkeyedDecodingContainer(Decoder owner, const CodedValue::Array* array)
        : owner_(std::move(owner)), array_(array) {}
    const CodedValue& current(std::string_view typeName) const;

    Decoder owner_;
    const CodedValue::Array* array_;
    std::size_t currentIndex_ = 0;
};

// Reads the one value of a decoder.
class SingleValueDecodingContainer {
public:
    const CodingPath& codingPath() const { return owner_.codingPath(); }
    bool decodeNil() const { return owner_.value().isNull(); }
    template <class T> T decode() const { return owner_.decodeHere<T>(); }

    DecodingError dataCorruptedError(std::string debugDescription) const;

private:
    friend class Decoder;
    explicit SingleValueDecodingContainer(Decoder owner) : owner_(std::move(owner)) {}

    Decoder owner_;
};

} // namespace velmora
