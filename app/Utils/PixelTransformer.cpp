#include "Utils/PixelTransformer.hpp"

#include "Utils/ValueTransformers.hpp"

namespace velmora {

std::any PixelTransformer::transformedValue(const std::any& value) const {
    return integerTextOfNumber(value, 1.0f);
}

std::any PixelTransformer::reverseTransformedValue(const std::any& value) const {
    return numberOfNumberOrText(value, 1.0f);
}

} // namespace velmora
