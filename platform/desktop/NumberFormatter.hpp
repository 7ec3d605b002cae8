#pragma once

#include <optional>
#include <string>
#include <string_view>

class QLineEdit;

namespace velmora {

// Numbers to text and back, and the check of every edit of a field that
// shows one. Without a style it writes whole numbers and reads plain decimal
// numbers ("-12", "0.5") and nothing else. Halves round to even.
class NumberFormatter {
public:
    enum class Style { none, decimal };

    virtual ~NumberFormatter() = default;

    Style numberStyle = Style::none;
    // Digits after the separator that `decimal` writes, at most.
    int maximumFractionDigits = 3;
    std::optional<double> minimum;
    std::optional<double> maximum;

    virtual std::string stringFromNumber(double number) const;
    // Nothing for text that is not wholly a finite number.
    virtual std::optional<double> numberFromString(std::string_view text) const;

    // Asked on every edit of a field with this formatter: false refuses the
    // edit; `newEditingString` may then name the text the field shows instead.
    // Every edit is valid unless a subclass says otherwise.
    virtual bool isPartialStringValid(const std::string& partialString,
                                      std::optional<std::string>* newEditingString,
                                      std::optional<std::string>* errorDescription) const;

    // Checks every edit of the field through `isPartialStringValid` (the field
    // keeps its text when an edit is refused, or shows the offered one). The
    // formatter must outlive the field or be detached.
    void attach(QLineEdit* field) const;
    static void detach(QLineEdit* field);
};

} // namespace velmora
