#include "Utils/BlockingNumberFormatter.hpp"

#include "desktop/NSBeep.hpp"

namespace velmora {

bool BlockingNumberFormatter::isDecimalDigits(std::string_view text) {
    // Bytes of multi-byte characters are never ASCII digits.
    return text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool BlockingNumberFormatter::isPartialStringValid(
    const std::string& partialString, std::optional<std::string>* newEditingString,
    std::optional<std::string>* errorDescription) const {
    if (newEditingString) {
        newEditingString->reset();
    }
    if (errorDescription) {
        errorDescription->reset();
    }
    if (partialString.empty()) {
        return true;
    }
    if (!isDecimalDigits(partialString)) {
        NSBeep();
        return false;
    }
    return true;
}

} // namespace velmora
