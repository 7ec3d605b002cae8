#pragma once

#include "Utils/BlockingNumberFormatter.hpp"

namespace velmora {

// Digits only, and a number within `minimum` ... `maximum`: a number out of
// range beeps and offers the bound it crossed as the field's text.
class RangedBlockingNumberFormatter : public BlockingNumberFormatter {
public:
    bool isPartialStringValid(const std::string& partialString,
                              std::optional<std::string>* newEditingString,
                              std::optional<std::string>* errorDescription) const override;
};

} // namespace velmora
