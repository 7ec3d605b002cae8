#include "Utils/LogarithmicTransformer.hpp"

#include <cmath>

namespace velmora {

std::any LogarithmicTransformer::transformedValue(const std::any& value) const {
    if (const std::optional<double> number = numberValue(value)) {
        return std::log10(float(*number));
    }
    return {};
}

std::any LogarithmicTransformer::reverseTransformedValue(const std::any& value) const {
    if (const std::optional<double> number = numberValue(value)) {
        return std::pow(10.0f, float(*number));
    }
    return {};
}

} // namespace velmora
