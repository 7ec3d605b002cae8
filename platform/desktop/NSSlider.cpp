#include "desktop/NSSlider.hpp"

#include <cmath>

namespace velmora {

NSSlider::NSSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setRange(0, steps);
}

void NSSlider::setMinValue(double value) {
    const double shown = doubleValue();
    minValue_ = value;
    setDoubleValue(shown);
}

void NSSlider::setMaxValue(double value) {
    const double shown = doubleValue();
    maxValue_ = value;
    setDoubleValue(shown);
}

double NSSlider::doubleValue() const {
    return minValue_ + (maxValue_ - minValue_) * double(value()) / steps;
}

void NSSlider::setDoubleValue(double value) {
    const double span = maxValue_ - minValue_;
    int position = 0;
    if (std::isnan(value) || !(span > 0) || !std::isfinite(span)) {
        position = 0;
    } else {
        const double fraction = (value - minValue_) / span; // infinities stay infinite
        position = fraction <= 0 ? 0 : fraction >= 1 ? steps : int(std::lround(fraction * steps));
    }
    setValue(position);
}

} // namespace velmora
