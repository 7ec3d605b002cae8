#pragma once

#include "desktop/NumberFormatter.hpp"

#include <string_view>

namespace velmora {

// A number field's formatter that lets only the digits 0-9 be typed: no
// sign, separator or other script's digits. Each refusal beeps.
class BlockingNumberFormatter : public NumberFormatter {
public:
    // True when every character of `text` is an ASCII digit (or there is none).
    static bool isDecimalDigits(std::string_view text);

    bool isPartialStringValid(const std::string& partialString,
                              std::optional<std::string>* newEditingString,
                              std::optional<std::string>* errorDescription) const override;
};

} // namespace velmora
