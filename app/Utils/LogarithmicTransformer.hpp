#pragma once

#include "desktop/ValueTransformer.hpp"

namespace velmora {

// A number on a base-10 logarithmic scale (32-bit floats): 100 as 2, 3 back
// as 1000; 0 becomes minus infinity. Nothing for other values.
class LogarithmicTransformer : public ValueTransformer {
public:
    std::any transformedValue(const std::any& value) const override;
    bool allowsReverseTransformation() const override { return true; }
    std::any reverseTransformedValue(const std::any& value) const override;
};

} // namespace velmora
