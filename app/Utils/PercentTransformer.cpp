#include "Utils/PercentTransformer.hpp"

#include "Utils/ValueTransformers.hpp"

namespace velmora {

std::any PercentTransformer::transformedValue(const std::any& value) const {
    return integerTextOfNumber(value, 100.0f);
}

std::any PercentTransformer::reverseTransformedValue(const std::any& value) const {
    return numberOfNumberOrText(value, 100.0f);
}

} // namespace velmora
