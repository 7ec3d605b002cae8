#include "desktop/NSSegmentedControl.hpp"

#include <QHBoxLayout>

namespace velmora {

NSSegmentedControl::NSSegmentedControl(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
}

void NSSegmentedControl::setSegmentCount(int count) {
    while (segmentCount() > count) {
        delete segments_.back().data();
        segments_.pop_back();
    }
    while (segmentCount() < count) {
        auto* button = new QToolButton(this);
        button->setFocusPolicy(Qt::NoFocus);
        const int segment = segmentCount();
        QObject::connect(button, &QToolButton::clicked, this,
                         [this, segment] { performClick(segment); });
        layout()->addWidget(button);
        segments_.emplace_back(button);
    }
}

void NSSegmentedControl::setLabel(const std::string& label, int segment) {
    if (segment >= 0 && segment < segmentCount()) {
        segments_[segment]->setText(QString::fromStdString(label));
    }
}

std::string NSSegmentedControl::label(int segment) const {
    return segment >= 0 && segment < segmentCount() ? segments_[segment]->text().toStdString()
                                                    : std::string();
}

void NSSegmentedControl::setImage(const QIcon& image, int segment) {
    if (segment >= 0 && segment < segmentCount()) {
        segments_[segment]->setIcon(image);
    }
}

void NSSegmentedControl::setEnabled(bool enabled, int segment) {
    if (segment >= 0 && segment < segmentCount()) {
        segments_[segment]->setEnabled(enabled);
    }
}

bool NSSegmentedControl::isEnabled(int segment) const {
    return segment >= 0 && segment < segmentCount() && segments_[segment]->isEnabled();
}

void NSSegmentedControl::performClick(int segment) {
    if (!isEnabled(segment) || !action) {
        return;
    }
    selected_ = segment;
    // A copy: the action may replace itself.
    auto run = action;
    run(*this);
    selected_ = -1;
}

} // namespace velmora
