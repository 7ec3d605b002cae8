#include "Utils/RangedBlockingNumberFormatter.hpp"

#include "desktop/NSBeep.hpp"

#include <cmath>
#include <cstdint>

namespace velmora {

namespace {

// The text of a bound's whole part; nothing for a bound no integer holds.
std::optional<std::string> integerText(double bound) {
    if (!std::isfinite(bound) || std::fabs(bound) >= 9.2e18) {
        return std::nullopt;
    }
    return std::to_string(static_cast<std::int64_t>(bound));
}

} // namespace

bool RangedBlockingNumberFormatter::isPartialStringValid(
    const std::string& partialString, std::optional<std::string>* newEditingString,
    std::optional<std::string>* errorDescription) const {
    if (!BlockingNumberFormatter::isPartialStringValid(partialString, newEditingString,
                                                       errorDescription)) {
        return false;
    }
    if (partialString.empty()) {
        return true;
    }
    const std::optional<double> number = NumberFormatter().numberFromString(partialString);
    if (!number) {
        NSBeep();
        return false;
    }
    const auto refuse = [&](double bound) {
        NSBeep();
        if (newEditingString) {
            *newEditingString = integerText(bound);
        }
        return false;
    };
    if (minimum && float(*minimum) > *number) {
        return refuse(*minimum);
    }
    if (maximum && float(*maximum) < *number) {
        return refuse(*maximum);
    }
    return true;
}

} // namespace velmora
