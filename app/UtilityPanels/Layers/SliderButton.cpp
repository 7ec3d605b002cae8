#include "UtilityPanels/Layers/SliderButton.hpp"

#include "desktop/NSCursor.hpp"

#include <QMouseEvent>
#include <algorithm>
#include <cmath>

namespace velmora {

SliderButton::SliderButton(QWidget* parent) : QPushButton(parent) {
    setCursor(Qt::SizeHorCursor);
    updateTitle();
}

SliderButton::~SliderButton() {
    endLiveUpdate();
}

void SliderButton::updateTitle() {
    setText(QString::number(std::lround(internalValue_ * 100)) + QLatin1Char('%'));
}

void SliderButton::performClick() {
    if (action) {
        action(*this);
    }
}

void SliderButton::endLiveUpdate() {
    if (cursorPushed_) {
        cursorPushed_ = false;
        NSCursor::pop();
    }
    if (didStartLiveUpdate_) {
        didStartLiveUpdate_ = false;
        if (const auto d = delegate.lock()) {
            d->sliderButtonDidEndLiveUpdate(*this);
        }
    }
}

void SliderButton::mousePressEvent(QMouseEvent* event) {
    // No click tracking: a press only starts a possible drag.
    event->accept();
    if (event->button() != Qt::LeftButton || cursorPushed_) {
        return;
    }
    NSCursor::resizeLeftRightCursor()->push();
    cursorPushed_ = true;
    lastGlobalX_ = event->globalPosition().x();
}

void SliderButton::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (!cursorPushed_) {
        return;
    }
    NSCursor::resizeLeftRightCursor()->set();
    const double deltaX = event->globalPosition().x() - lastGlobalX_;
    lastGlobalX_ = event->globalPosition().x();
    const double old = internalValue_;
    const double value = std::clamp(old + deltaX / 100 * 0.25, 0.0, 1.0);
    internalValue_ = value;
    updateTitle();
    if (std::lround(value * 100) == std::lround(old * 100)) {
        return;
    }
    if (!didStartLiveUpdate_) {
        if (const auto d = delegate.lock()) {
            d->sliderButtonDidStartLiveUpdate(*this);
        }
        didStartLiveUpdate_ = true;
    }
    performClick();
}

void SliderButton::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton) {
        endLiveUpdate();
    }
}

void SliderButton::hideEvent(QHideEvent* event) {
    endLiveUpdate();
    QPushButton::hideEvent(event);
}

} // namespace velmora
