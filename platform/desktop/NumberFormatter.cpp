#include "desktop/NumberFormatter.hpp"

#include <QLineEdit>
#include <QValidator>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace velmora {

namespace {

// Hands each edit to the formatter; an offered replacement becomes the text.
class FormatterValidator : public QValidator {
public:
    FormatterValidator(const NumberFormatter& formatter, QObject* parent)
        : QValidator(parent), formatter_(formatter) {}

    State validate(QString& input, int& position) const override {
        std::optional<std::string> replacement;
        std::optional<std::string> error;
        if (formatter_.isPartialStringValid(input.toStdString(), &replacement, &error)) {
            return Acceptable;
        }
        if (replacement) {
            input = QString::fromStdString(*replacement);
            position = int(input.size());
            return Acceptable;
        }
        return Invalid;
    }

private:
    const NumberFormatter& formatter_;
};

} // namespace

std::string NumberFormatter::stringFromNumber(double number) const {
    if (!std::isfinite(number)) {
        return std::isnan(number) ? "NaN" : (number > 0 ? "+∞" : "-∞");
    }
    if (numberStyle == Style::none) {
        // Halves go to the even neighbour, as the platform's formatters round.
        const double whole = std::nearbyint(number);
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.0f", whole == 0 ? 0.0 : whole);
        return buffer;
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", std::max(0, maximumFractionDigits), number);
    std::string text = buffer;
    // Trailing zeros of the fraction say nothing.
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') {
            text.pop_back();
        }
    }
    return text == "-0" ? "0" : text;
}

std::optional<double> NumberFormatter::numberFromString(std::string_view text) const {
    if (text.empty()) {
        return std::nullopt;
    }
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (*begin == '+') {
        ++begin;
    }
    // Only plain decimal text: no exponents, hexadecimal, infinities or NaN.
    for (const char* c = begin; c != end; ++c) {
        if (!((*c >= '0' && *c <= '9') || *c == '.' || (*c == '-' && c == begin))) {
            return std::nullopt;
        }
    }
    double value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || stop != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

bool NumberFormatter::isPartialStringValid(const std::string&, std::optional<std::string>*,
                                           std::optional<std::string>*) const {
    return true;
}

void NumberFormatter::attach(QLineEdit* field) const {
    if (field) {
        field->setValidator(new FormatterValidator(*this, field));
    }
}

void NumberFormatter::detach(QLineEdit* field) {
    if (field) {
        const QValidator* old = field->validator();
        field->setValidator(nullptr);
        delete old;
    }
}

} // namespace velmora
