#pragma once

#include "coding/Coding.hpp"

#include <string>
#include <typeinfo>

namespace velmora {

// An object of a class hierarchy that is written with its class name under
// "type", beside the keys of its own typedEncode, so that a ClassFamily can
// read it back as the right class.
class TypedEncodable {
public:
    virtual ~TypedEncodable() = default;

    // Writes the object's own keys into the encoder's keyed container (the
    // base class's through the container's superEncoder).
    virtual void typedEncode(Encoder& encoder) const = 0;

    // Writes "type" (the dynamic class's unqualified name), then typedEncode
    // with the same encoder, so both land in one container.
    void encode(Encoder& encoder) const;

protected:
    TypedEncodable() = default;
    TypedEncodable(const TypedEncodable&) = default;
    TypedEncodable& operator=(const TypedEncodable&) = default;
};

// Decodability comes from each class's static std::shared_ptr<C> decode(Decoder&).
class TypedCodable : public TypedEncodable {};

// "RasterLayer" for velmora::RasterLayer, "Patch" for RasterLayer::Patch.
std::string unqualifiedClassName(const std::type_info& type);

} // namespace velmora
