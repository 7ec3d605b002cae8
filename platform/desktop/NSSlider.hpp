#pragma once

#include <QSlider>

namespace velmora {

// A horizontal slider over a range of doubles, in 1000 steps. Values outside
// the range show its nearest end: minus infinity and NaN the minimum, plus
// infinity the maximum. Its valueChanged signal tells every step.
class NSSlider : public QSlider {
public:
    static constexpr int steps = 1000;

    explicit NSSlider(QWidget* parent = nullptr);

    double minValue() const { return minValue_; }
    double maxValue() const { return maxValue_; }
    // Keeps the shown value, moved into the new range.
    void setMinValue(double value);
    void setMaxValue(double value);

    double doubleValue() const;
    void setDoubleValue(double value);

private:
    double minValue_ = 0;
    double maxValue_ = 1;
};

} // namespace velmora
