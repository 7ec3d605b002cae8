#include "Utils/ValueTransformers.hpp"

#include "Utils/LogarithmicTransformer.hpp"
#include "Utils/PercentTransformer.hpp"
#include "Utils/PixelTransformer.hpp"
#include "desktop/NumberFormatter.hpp"
#include "desktop/ValueTransformer.hpp"

#include <cmath>
#include <cstdint>
#include <string>

namespace velmora {

void registerValueTransformers() {
    ValueTransformer::setValueTransformer(std::make_shared<PercentTransformer>(),
                                          "PercentTransformer");
    ValueTransformer::setValueTransformer(std::make_shared<PixelTransformer>(), "PixelTransformer");
    ValueTransformer::setValueTransformer(std::make_shared<LogarithmicTransformer>(),
                                          "LogarithmicTransformer");
}

std::any integerTextOfNumber(const std::any& value, float factor) {
    const std::optional<double> number = numberValue(value);
    if (!number) {
        return std::string("???");
    }
    // Half away from zero, in single precision as the model keeps the values.
    const float rounded = std::round(float(*number) * factor);
    // 2^63 is the first float outside the range; every float below it fits.
    if (!std::isfinite(rounded) || rounded >= 9223372036854775808.0f ||
        rounded < -9223372036854775808.0f) {
        return std::string("???");
    }
    return std::to_string(static_cast<std::int64_t>(rounded));
}

std::any numberOfNumberOrText(const std::any& value, float divisor) {
    if (const std::optional<double> number = numberValue(value)) {
        return float(*number) / divisor;
    }
    if (const std::optional<std::string> text = stringValue(value)) {
        if (const std::optional<double> parsed = NumberFormatter().numberFromString(*text)) {
            return float(*parsed) / divisor;
        }
    }
    return {};
}

} // namespace velmora
