#pragma once

#include "TypedCodable/Discriminator.hpp"
#include "coding/Coding.hpp"

#include <concepts>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// Stands for the class C when a family case hands its class to a visitor.
template <class C> struct ClassTag { using type = C; };

// A family turns the coded class name back into a class. A family U is a
// decodable value (read from the "type" text) with
//     static Discriminator discriminator();            // always Discriminator::type
//     template <class V> void withType(V&& visitor) const;
// where withType calls visitor(ClassTag<C>{}) with the class C of its case.
// Each class C is decoded through Coding<std::shared_ptr<C>>, that is its own
// static std::shared_ptr<C> decode(Decoder&).
template <class U>
concept ClassFamily = Decodable<U> && requires(const U& family) {
    { U::discriminator() } -> std::same_as<Discriminator>;
    family.withType([](auto) {});
};

// Decoding for a family with text raw values: U::fromRawValue(text) gives the
// case or nothing; any other text is data corrupted.
template <class U> U decodeFamilyFromRawValue(Decoder& decoder) {
    const SingleValueDecodingContainer container = decoder.singleValueContainer();
    const std::string text = container.decode<std::string>();
    if (const std::optional<U> family = U::fromRawValue(text)) {
        return *family;
    }
    throw container.dataCorruptedError("Cannot initialize " + detail::typeName<U>() +
                                       " from invalid String value " + text);
}

} // namespace velmora
