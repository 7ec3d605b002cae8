#include "desktop/NSSliderBinding.hpp"

#include "desktop/NSSlider.hpp"
#include "foundation/FatalError.hpp"

#include <QSignalBlocker>
#include <limits>

namespace velmora {

NSSliderBinding::NSSliderBinding(NSSlider* slider, BindableValue value,
                                 std::string valueTransformerName)
    : slider_(slider), value_(std::move(value)) {
    if (!valueTransformerName.empty()) {
        transformer_ = ValueTransformer::valueTransformerForName(valueTransformerName);
        if (!transformer_) {
            fatalError("No value transformer is registered as \"" + valueTransformerName + "\"");
        }
    }
    connection_ = QObject::connect(slider, &QSlider::valueChanged, slider, [this] {
        if (!slider_ || !value_.write) {
            return;
        }
        std::any edited = slider_->doubleValue();
        if (transformer_) {
            edited = transformer_->allowsReverseTransformation()
                         ? transformer_->reverseTransformedValue(edited)
                         : std::any();
        }
        if (edited.has_value()) {
            writing_ = true;
            value_.write(edited);
            writing_ = false;
        }
    });
    if (value_.observe) {
        observation_ = value_.observe([this] {
            if (!writing_) {
                refresh();
            }
        });
    }
    refresh();
}

NSSliderBinding::~NSSliderBinding() {
    QObject::disconnect(connection_);
    observation_.invalidate();
}

void NSSliderBinding::refresh() {
    if (!slider_ || !value_.read) {
        return;
    }
    std::any shown = value_.read();
    if (transformer_) {
        shown = transformer_->transformedValue(shown);
    }
    // Nothing readable shows the minimum, as NaN does.
    const double number = numberValue(shown).value_or(std::numeric_limits<double>::quiet_NaN());
    const QSignalBlocker quiet(slider_.data());
    slider_->setDoubleValue(number);
}

} // namespace velmora
