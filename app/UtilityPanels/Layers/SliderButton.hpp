#pragma once

#include "UtilityPanels/Layers/SliderButtonDelegate.hpp"

#include <QPushButton>
#include <functional>
#include <memory>

namespace velmora {

// A button showing a fraction as a whole percentage, changed by dragging
// horizontally: 400 points cover the whole range. Pressing and releasing do
// not click; each drag step that changes the shown percentage sends the
// action, the first of a drag after telling the delegate that a live update
// started. The end of the drag, or the button leaving its window, ends it.
class SliderButton : public QPushButton {
public:
    explicit SliderButton(QWidget* parent = nullptr);
    ~SliderButton() override;

    std::weak_ptr<SliderButtonDelegate> delegate;
    std::function<void(SliderButton&)> action;

    double internalValue() const { return internalValue_; }
    void setInternalValue(double value) { internalValue_ = value; }
    bool didStartLiveUpdate() const { return didStartLiveUpdate_; }

    // "90%" for 0.9.
    void updateTitle();
    // Sends the action.
    void performClick();
    // Pops the cursor a press pushed and ends a live update that started.
    void endLiveUpdate();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    double internalValue_ = 1.0;
    bool didStartLiveUpdate_ = false;
    bool cursorPushed_ = false;
    double lastGlobalX_ = 0;
};

} // namespace velmora
