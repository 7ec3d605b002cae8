#pragma once

#include "desktop/ValueTransformer.hpp"

namespace velmora {

// A length shown as whole pixels: 12.5 as "13".
class PixelTransformer : public ValueTransformer {
public:
    std::any transformedValue(const std::any& value) const override;
    bool allowsReverseTransformation() const override { return true; }
    std::any reverseTransformedValue(const std::any& value) const override;
};

} // namespace velmora
