#pragma once

#include "Canvas/GroupLayer.hpp"
#include "Canvas/RasterLayer.hpp"
#include "TypedCodable/ClassFamily.hpp"

#include <optional>
#include <string_view>

namespace velmora {

// Turns a stored layer's "type" back into its class. Filled layers and the
// base class have no case.
struct LayerFamily {
    enum class Case { rasterLayer, groupLayer };
    Case value;

    static Discriminator discriminator() { return Discriminator::type; }
    // Exact and case-sensitive.
    static std::optional<LayerFamily> fromRawValue(std::string_view text);
    std::string_view rawValue() const;
    static LayerFamily decode(Decoder& decoder) {
        return decodeFamilyFromRawValue<LayerFamily>(decoder);
    }

    template <class V> void withType(V&& visitor) const {
        switch (value) {
        case Case::rasterLayer:
            visitor(ClassTag<RasterLayer>{});
            return;
        case Case::groupLayer:
            visitor(ClassTag<GroupLayer>{});
            return;
        }
    }

    friend bool operator==(const LayerFamily&, const LayerFamily&) = default;
};

} // namespace velmora
