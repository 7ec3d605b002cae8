#pragma once

// Reading lists and single objects of a class family. T is the element class
// the caller expects (for layers, Layer); an element whose family class is not
// T or derived from it is left out, which is not an error.

#include "TypedCodable/ClassFamily.hpp"
#include "coding/Coding.hpp"
#include "coding/JSONDecoder.hpp"

#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>
#include <vector>

namespace velmora {

namespace detail {

// One element read with its family case; `object` is null when the case's
// class is not a T.
template <ClassFamily U, class T> struct ClassWrapper {
    U family;
    std::shared_ptr<T> object;

    static ClassWrapper decode(Decoder& decoder) {
        const KeyedDecodingContainer container = decoder.container();
        U family = container.decode<U>(stringValue(U::discriminator()));
        std::shared_ptr<T> object;
        family.withType([&](auto tag) {
            using C = typename decltype(tag)::type;
            if constexpr (std::is_base_of_v<T, C>) {
                object = Coding<std::shared_ptr<C>>::decode(decoder);
            }
        });
        return ClassWrapper{std::move(family), std::move(object)};
    }
};

} // namespace detail

// The array under `key`, each element built as the class its "type" names.
// Fails, returning nothing, when the key is missing or not an array, an element
// is not a dictionary or lacks "type", the family cannot be built from the
// text, or a class's own decoding fails.
template <ClassFamily U, class T>
std::vector<std::shared_ptr<T>> decodeFamily(const KeyedDecodingContainer& container,
                                             std::string_view key) {
    UnkeyedDecodingContainer types = container.nestedUnkeyedContainer(key);
    UnkeyedDecodingContainer objects = container.nestedUnkeyedContainer(key);
    std::vector<std::shared_ptr<T>> result;
    while (!types.isAtEnd()) {
        const KeyedDecodingContainer element = types.nestedContainer();
        const U family = element.decode<U>(stringValue(U::discriminator()));
        family.withType([&](auto tag) {
            using C = typename decltype(tag)::type;
            if constexpr (std::is_base_of_v<T, C>) {
                result.push_back(objects.decode<std::shared_ptr<C>>());
            } else {
                objects.skip();
            }
        });
    }
    return result;
}

// A JSON document that is an array of tagged objects. Failures are thrown.
template <ClassFamily U, class T>
std::vector<std::shared_ptr<T>> decodeFamily(const JSONDecoder& decoder, std::string_view json) {
    std::vector<std::shared_ptr<T>> result;
    for (auto& wrapper : decoder.decode<std::vector<detail::ClassWrapper<U, T>>>(json)) {
        if (wrapper.object) {
            result.push_back(std::move(wrapper.object));
        }
    }
    return result;
}

// One tagged object from a keyed unarchiver (anything whose
// decodeDecodable<W>(key) answers std::optional<W> and keeps its own error).
// Null when nothing could be read or the class is not a T; never throws for
// bad input.
template <ClassFamily U, class T, class Unarchiver>
std::shared_ptr<T> decodeDecodable(Unarchiver& unarchiver, std::string_view key) {
    auto wrapper = unarchiver.template decodeDecodable<detail::ClassWrapper<U, T>>(key);
    if (!wrapper) {
        return nullptr;
    }
    return std::move(wrapper->object);
}

// An array of tagged objects from a keyed unarchiver; empty when nothing could
// be read, else the objects that are Ts, in order.
template <ClassFamily U, class T, class Unarchiver>
std::optional<std::vector<std::shared_ptr<T>>> decodeDecodableArray(Unarchiver& unarchiver,
                                                                    std::string_view key) {
    auto wrappers = unarchiver.template decodeDecodableArray<detail::ClassWrapper<U, T>>(key);
    if (!wrappers) {
        return std::nullopt;
    }
    std::vector<std::shared_ptr<T>> result;
    for (auto& wrapper : *wrappers) {
        if (wrapper.object) {
            result.push_back(std::move(wrapper.object));
        }
    }
    return result;
}

} // namespace velmora
