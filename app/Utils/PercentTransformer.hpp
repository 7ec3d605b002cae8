#pragma once

#include "desktop/ValueTransformer.hpp"

namespace velmora {

// A fraction shown as whole per cent: 0.426 as "43", "43" back as 0.43.
class PercentTransformer : public ValueTransformer {
public:
    std::any transformedValue(const std::any& value) const override;
    bool allowsReverseTransformation() const override { return true; }
    std::any reverseTransformedValue(const std::any& value) const override;
};

} // namespace velmora
