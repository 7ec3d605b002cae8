#include "Canvas/LayerFamily.hpp"

namespace velmora {

std::optional<LayerFamily> LayerFamily::fromRawValue(std::string_view text) {
    if (text == "RasterLayer") {
        return LayerFamily{Case::rasterLayer};
    }
    if (text == "GroupLayer") {
        return LayerFamily{Case::groupLayer};
    }
    return std::nullopt;
}

std::string_view LayerFamily::rawValue() const {
    return value == Case::rasterLayer ? "RasterLayer" : "GroupLayer";
}

} // namespace velmora
