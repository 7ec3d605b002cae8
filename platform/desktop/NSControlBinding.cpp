#include "desktop/NSControlBinding.hpp"

#include "foundation/FatalError.hpp"
#include "foundation/NumberText.hpp"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QLineEdit>
#include <QSignalBlocker>
#include <algorithm>
#include <cmath>

namespace velmora {

NSControlBinding::NSControlBinding(Kind kind, QWidget* control, BindableValue value,
                                   BindingOptions options)
    : kind_(kind), control_(control), value_(std::move(value)), options_(std::move(options)) {
    if (!options_.valueTransformerName.empty()) {
        transformer_ = ValueTransformer::valueTransformerForName(options_.valueTransformerName);
        if (!transformer_) {
            fatalError("No value transformer is registered as \"" + options_.valueTransformerName +
                       "\"");
        }
    }
    if (!(options_.sliderScale > 0) || !std::isfinite(options_.sliderScale)) {
        options_.sliderScale = 1;
    }
}

NSControlBinding::~NSControlBinding() {
    QObject::disconnect(connection_);
    observation_.invalidate();
}

std::unique_ptr<NSControlBinding> NSControlBinding::bind(QLineEdit* field, BindableValue value,
                                                         BindingOptions options) {
    std::unique_ptr<NSControlBinding> binding(
        new NSControlBinding(Kind::field, field, std::move(value), std::move(options)));
    binding->connection_ =
        QObject::connect(field, &QLineEdit::editingFinished, field, [b = binding.get(), field] {
            b->commit(std::any(field->text().toStdString()));
        });
    binding->start();
    return binding;
}

std::unique_ptr<NSControlBinding>
NSControlBinding::bind(QAbstractSlider* slider, BindableValue value, BindingOptions options) {
    std::unique_ptr<NSControlBinding> binding(
        new NSControlBinding(Kind::slider, slider, std::move(value), std::move(options)));
    binding->connection_ = QObject::connect(
        slider, &QAbstractSlider::valueChanged, slider, [b = binding.get()](int position) {
            b->commit(std::any(double(position) / b->options_.sliderScale));
        });
    binding->start();
    return binding;
}

std::unique_ptr<NSControlBinding>
NSControlBinding::bind(QAbstractButton* button, BindableValue value, BindingOptions options) {
    button->setCheckable(true);
    std::unique_ptr<NSControlBinding> binding(
        new NSControlBinding(Kind::button, button, std::move(value), std::move(options)));
    binding->connection_ =
        QObject::connect(button, &QAbstractButton::toggled, button,
                         [b = binding.get()](bool on) { b->commit(std::any(on)); });
    binding->start();
    return binding;
}

void NSControlBinding::start() {
    if (value_.observe) {
        observation_ = value_.observe([this] {
            if (!writing_) {
                refresh();
            }
        });
    }
    refresh();
}

void NSControlBinding::refresh() {
    if (!control_ || !value_.read) {
        return;
    }
    std::any shown = value_.read();
    if (transformer_) {
        shown = transformer_->transformedValue(shown);
    }
    const QSignalBlocker blocker(control_);
    switch (kind_) {
    case Kind::field: {
        std::string text;
        if (std::optional<std::string> string = stringValue(shown)) {
            text = *string;
        } else if (std::optional<double> number = numberValue(shown)) {
            text = options_.formatter ? options_.formatter->stringFromNumber(*number)
                                      : shortestNumberText(*number);
        } else if (const bool* flag = std::any_cast<bool>(&shown)) {
            text = *flag ? "1" : "0";
        }
        auto* field = static_cast<QLineEdit*>(control_.data());
        const QString qtext = QString::fromStdString(text);
        if (field->text() != qtext) {
            field->setText(qtext);
        }
        break;
    }
    case Kind::slider:
        if (std::optional<double> number = numberValue(shown); number && std::isfinite(*number)) {
            auto* slider = static_cast<QAbstractSlider*>(control_.data());
            const double position =
                std::clamp(*number * options_.sliderScale, double(slider->minimum()),
                           double(slider->maximum()));
            slider->setValue(int(std::lround(position)));
        }
        break;
    case Kind::button: {
        bool on = false;
        if (const bool* flag = std::any_cast<bool>(&shown)) {
            on = *flag;
        } else if (std::optional<double> number = numberValue(shown)) {
            on = *number != 0;
        }
        static_cast<QAbstractButton*>(control_.data())->setChecked(on);
        break;
    }
    }
}

void NSControlBinding::commit(std::any edited) {
    if (!value_.write) {
        return;
    }
    if (transformer_) {
        edited = transformer_->allowsReverseTransformation()
                     ? transformer_->reverseTransformedValue(edited)
                     : std::any();
    } else if (kind_ == Kind::field && options_.formatter) {
        std::optional<double> number = options_.formatter->numberFromString(*stringValue(edited));
        edited = number ? std::any(*number) : std::any();
    }
    if (edited.has_value()) {
        writing_ = true;
        value_.write(edited);
        writing_ = false;
    }
    // The control shows what the value became, or what it still is.
    refresh();
}

} // namespace velmora
