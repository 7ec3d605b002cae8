#pragma once

// Keyed coding. A type takes part by members
//     void encode(Encoder&) const;
//     static T decode(Decoder&);          // classes: static std::shared_ptr<T> decode(Decoder&)
// or, for a type it cannot change, by specialising velmora::Coding<T> with the
// same two static functions taking the value first. Built in: bool, integers,
// float, double, std::string (text), std::vector<std::uint8_t> (data bytes),
// std::vector<T> (array), std::map<std::string, T> (dictionary), std::optional<T>
// (null when empty) and std::shared_ptr<T> of a coded class.

#include "coding/CodedValue.hpp"
#include "coding/Decoder.hpp"
#include "coding/DecodingError.hpp"
#include "coding/Encoder.hpp"
#include "coding/EncodingError.hpp"
#include "foundation/FatalError.hpp"

#include <concepts>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <vector>

namespace velmora {

template <class T> struct Coding {
    static void encode(const T& value, Encoder& encoder) requires requires {
        value.encode(encoder);
    }
    { value.encode(encoder); }
    static T decode(Decoder& decoder) requires requires {
        { T::decode(decoder) } -> std::convertible_to<T>;
    }
    { return T::decode(decoder); }
};

namespace detail {

template <class T>
concept CodedInteger = std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char> &&
                       !std::same_as<T, char8_t> && !std::same_as<T, char16_t> &&
                       !std::same_as<T, char32_t> && !std::same_as<T, wchar_t>;

// Types the tree holds directly.
template <class T>
concept CodedPrimitive = std::same_as<T, bool> || CodedInteger<T> || std::same_as<T, float> ||
    std::same_as<T, double> || std::same_as<T, std::string> || std::same_as<T, CodedValue::Bytes> ||
    std::same_as<T, SharedBytes>;

// Text that can be written but is decoded as std::string.
template <class T>
concept CodedTextLike = !CodedPrimitive<T> && std::convertible_to<const T&, std::string_view>;

template <class T> struct IsOptional : std::false_type {};
template <class T> struct IsOptional<std::optional<T>> : std::true_type {};

template <class T> CodedValue box(const T& value) {
    if constexpr (std::same_as<T, bool>) {
        return CodedValue(value);
    } else if constexpr (CodedInteger<T>) {
        return CodedValue(value);
    } else if constexpr (CodedTextLike<T>) {
        return CodedValue(std::string(std::string_view(value)));
    } else {
        return CodedValue(value);
    }
}

std::string demangledTypeName(const std::type_info& type);

template <class T> std::string typeName() {
    if constexpr (std::same_as<T, bool>) {
        return "Bool";
    } else if constexpr (CodedInteger<T>) {
        return std::string(std::is_signed_v<T> ? "Int" : "UInt") + std::to_string(sizeof(T) * 8);
    } else if constexpr (std::same_as<T, float>) {
        return "Float";
    } else if constexpr (std::same_as<T, double>) {
        return "Double";
    } else if constexpr (std::same_as<T, std::string>) {
        return "String";
    } else if constexpr (std::same_as<T, CodedValue::Bytes> || std::same_as<T, SharedBytes>) {
        return "Data";
    } else {
        return demangledTypeName(typeid(T));
    }
}

bool unboxBool(const CodedValue& value, const CodingPath& path);
std::int64_t unboxSigned(const CodedValue& value, const CodingPath& path, std::string_view type,
                         std::int64_t min, std::int64_t max);
std::uint64_t unboxUnsigned(const CodedValue& value, const CodingPath& path, std::string_view type,
                            std::uint64_t max);
float unboxFloat(const CodedValue& value, const CodingPath& path);
double unboxDouble(const CodedValue& value, const CodingPath& path);
std::string unboxString(const CodedValue& value, const CodingPath& path);
CodedValue::Bytes unboxBytes(const CodedValue& value, const CodingPath& path,
                             const DecodingOptions& options);
[[noreturn]] void throwValueNotFound(std::string type, const CodingPath& path,
                                     std::string debugDescription);

template <class T>
T unbox(const CodedValue& value, const CodingPath& path, const DecodingOptions& options) {
    if (value.isNull()) {
        throwValueNotFound(typeName<T>(), path,
                           "Expected " + typeName<T>() + " value but found null instead.");
    }
    if constexpr (std::same_as<T, bool>) {
        return unboxBool(value, path);
    } else if constexpr (CodedInteger<T> && std::is_signed_v<T>) {
        return static_cast<T>(unboxSigned(value, path, typeName<T>(), std::numeric_limits<T>::min(),
                                          std::numeric_limits<T>::max()));
    } else if constexpr (CodedInteger<T>) {
        return static_cast<T>(
            unboxUnsigned(value, path, typeName<T>(), std::numeric_limits<T>::max()));
    } else if constexpr (std::same_as<T, float>) {
        return unboxFloat(value, path);
    } else if constexpr (std::same_as<T, double>) {
        return unboxDouble(value, path);
    } else if constexpr (std::same_as<T, std::string>) {
        return unboxString(value, path);
    } else if constexpr (std::same_as<T, SharedBytes>) {
        if (const SharedBytes* shared = value.sharedBytes()) {
            return *shared;
        }
        return SharedBytes(unboxBytes(value, path, options));
    } else {
        return unboxBytes(value, path, options);
    }
}

} // namespace detail

template <class T>
concept Encodable = detail::CodedPrimitive<T> || detail::CodedTextLike<T> ||
    requires(const T& value, Encoder& encoder) {
    Coding<T>::encode(value, encoder);
};

template <class T>
concept Decodable = detail::CodedPrimitive<T> || requires(Decoder& decoder) {
    { Coding<T>::decode(decoder) } -> std::same_as<T>;
};

// --- Encoding ---------------------------------------------------------------

template <class T> void Encoder::encodeInto(const T& value, Encoder& encoder) {
    if constexpr (detail::IsOptional<T>::value) {
        if (!value) {
            encoder.singleValueContainer().encodeNil();
        } else {
            encodeInto(*value, encoder);
        }
    } else if constexpr (detail::CodedPrimitive<T> || detail::CodedTextLike<T>) {
        encoder.singleValueContainer().encode(value);
    } else {
        static_assert(Encodable<T>, "T has no encode(Encoder&) const member and no Coding<T>");
        Coding<T>::encode(value, encoder);
    }
}

template <class T> void KeyedEncodingContainer::encode(const T& value, std::string_view key) {
    if constexpr (detail::CodedPrimitive<T> || detail::CodedTextLike<T>) {
        place(key, detail::box(value));
    } else {
        Encoder child = owner_.child(place(key, CodedDictionary()), CodingKey(std::string(key)));
        Encoder::encodeInto(value, child);
    }
}

template <class T>
void KeyedEncodingContainer::encodeIfPresent(const std::optional<T>& value, std::string_view key) {
    if (value) {
        encode(*value, key);
    }
}

template <class T> void UnkeyedEncodingContainer::encode(const T& value) {
    if constexpr (detail::CodedPrimitive<T> || detail::CodedTextLike<T>) {
        append(detail::box(value));
    } else {
        const std::size_t position = append(CodedDictionary());
        Encoder child = owner_.child(position, CodingKey::index(position));
        Encoder::encodeInto(value, child);
    }
}

template <class T> void SingleValueEncodingContainer::encode(const T& value) {
    if constexpr (detail::CodedPrimitive<T> || detail::CodedTextLike<T>) {
        owner_.slot() = detail::box(value);
    } else {
        Encoder fresh(owner_.storage_, owner_.slot_, owner_.codingPath_);
        Encoder::encodeInto(value, fresh);
    }
}

// --- Decoding ---------------------------------------------------------------

template <class T> T Decoder::decodeHere() const {
    if constexpr (detail::IsOptional<T>::value) {
        if (value_->isNull()) {
            return std::nullopt;
        }
        return decodeHere<typename T::value_type>();
    } else if constexpr (detail::CodedPrimitive<T>) {
        return detail::unbox<T>(*value_, codingPath_, storage_->options);
    } else {
        static_assert(Decodable<T>, "T has no static decode(Decoder&) and no Coding<T>");
        Decoder self = *this;
        return Coding<T>::decode(self);
    }
}

template <class T> T KeyedDecodingContainer::decode(std::string_view key) const {
    return owner_.child(require(key), CodingKey(std::string(key))).template decodeHere<T>();
}

template <class T>
std::optional<T> KeyedDecodingContainer::decodeIfPresent(std::string_view key) const {
    const CodedValue* value = dictionary_->find(key);
    if (value == nullptr || value->isNull()) {
        return std::nullopt;
    }
    return owner_.child(*value, CodingKey(std::string(key))).template decodeHere<T>();
}

template <class T> T UnkeyedDecodingContainer::decode() {
    const CodedValue& value = current(detail::typeName<T>());
    T out = owner_.child(value, CodingKey::index(currentIndex_)).template decodeHere<T>();
    ++currentIndex_;
    return out;
}

template <class T> std::optional<T> UnkeyedDecodingContainer::decodeIfPresent() {
    if (isAtEnd() || decodeNil()) {
        return std::nullopt;
    }
    return decode<T>();
}

// --- Library types ----------------------------------------------------------

template <class T>
requires(!std::same_as<T, std::uint8_t>) struct Coding<std::vector<T>> {
    static void encode(const std::vector<T>& values, Encoder& encoder) {
        UnkeyedEncodingContainer container = encoder.unkeyedContainer();
        for (const auto& value : values) {
            container.encode(static_cast<const T&>(value));
        }
    }
    static std::vector<T> decode(Decoder& decoder) {
        UnkeyedDecodingContainer container = decoder.unkeyedContainer();
        std::vector<T> out;
        out.reserve(container.count());
        while (!container.isAtEnd()) {
            out.push_back(container.decode<T>());
        }
        return out;
    }
};

template <class T> struct Coding<std::map<std::string, T>> {
    static void encode(const std::map<std::string, T>& values, Encoder& encoder) {
        KeyedEncodingContainer container = encoder.container();
        for (const auto& [key, value] : values) {
            container.encode(value, key);
        }
    }
    static std::map<std::string, T> decode(Decoder& decoder) {
        const KeyedDecodingContainer container = decoder.container();
        std::map<std::string, T> out;
        for (const std::string& key : container.allKeys()) {
            out.emplace(key, container.decode<T>(key));
        }
        return out;
    }
};

// Coded classes: a null pointer encodes as null; decoding null fails.
template <class T> struct Coding<std::shared_ptr<T>> {
    static void encode(const std::shared_ptr<T>& object, Encoder& encoder) requires requires {
        object->encode(encoder);
    }
    {
        if (!object) {
            encoder.singleValueContainer().encodeNil();
            return;
        }
        object->encode(encoder);
    }
    static std::shared_ptr<T> decode(Decoder& decoder) requires requires {
        { T::decode(decoder) } -> std::convertible_to<std::shared_ptr<T>>;
    }
    {
        if (decoder.value().isNull()) {
            detail::throwValueNotFound(detail::typeName<T>(), decoder.codingPath(),
                                       "Expected " + detail::typeName<T>() +
                                           " value but found null instead.");
        }
        return T::decode(decoder);
    }
};

// --- Top level --------------------------------------------------------------

// Encodes a value into a tree; back ends turn the tree into their format.
class ValueEncoder {
public:
    CodingUserInfo userInfo;

    template <class T> CodedValue encode(const T& value) const {
        auto storage = std::make_shared<detail::EncodingStorage>();
        storage->userInfo = userInfo;
        Encoder encoder(storage, {}, {});
        Encoder::encodeInto(value, encoder);
        if (encoder.use_ == Encoder::Use::none) {
            throw EncodingError::invalidValue(
                detail::typeName<T>(),
                {{}, "Top-level " + detail::typeName<T>() + " did not encode any values."});
        }
        return std::move(storage->root);
    }
};

// Decodes a value from a tree that a back end has read.
class ValueDecoder {
public:
    CodingUserInfo userInfo;
    DecodingOptions options;

    // Reads the tree in place; it must outlive the call.
    template <class T> T decode(const CodedValue& value) const {
        return decodeFrom<T>(makeStorage(), value);
    }
    template <class T> T decode(CodedValue&& value) const {
        auto storage = makeStorage();
        storage->ownedRoot = std::move(value);
        return decodeFrom<T>(storage, storage->ownedRoot);
    }

private:
    std::shared_ptr<detail::DecodingStorage> makeStorage() const {
        auto storage = std::make_shared<detail::DecodingStorage>();
        storage->options = options;
        storage->userInfo = userInfo;
        return storage;
    }
    template <class T>
    static T decodeFrom(std::shared_ptr<const detail::DecodingStorage> storage,
                        const CodedValue& root) {
        const Decoder decoder(std::move(storage), &root, {});
        return decoder.decodeHere<T>();
    }
};

} // namespace velmora
