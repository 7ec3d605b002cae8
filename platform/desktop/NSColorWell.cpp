#include "desktop/NSColorWell.hpp"

#include "desktop/NSColorPanel.hpp"

#include <QPainter>
#include <QPointer>

namespace velmora {

namespace {

QPointer<NSColorWell>& activeWell() {
    static QPointer<NSColorWell> well;
    return well;
}

} // namespace

NSColorWell::NSColorWell(QWidget* parent)
    : QToolButton(parent), color_(NSColor::colorWithSRGBRed(1, 1, 1, 1)) {
    setMinimumSize(44, 24);
    setFocusPolicy(Qt::NoFocus);
    QObject::connect(this, &QToolButton::clicked, this, [this] { activate(true); });
}

NSColorWell::~NSColorWell() {
    if (activeWell() == this) {
        NSColorPanel::sharedColorPanel().setColorChangedHandler({});
    }
}

void NSColorWell::setColor(NSColorRef color) {
    if (color) {
        color_ = std::move(color);
        update();
    }
}

void NSColorWell::activate(bool) {
    NSColorPanel& panel = NSColorPanel::sharedColorPanel();
    activeWell() = this;
    panel.setColor(color_);
    QPointer<NSColorWell> self(this);
    panel.setColorChangedHandler([self](const NSColorRef& color) {
        if (self) {
            self->setColor(color);
            if (self->onColorChanged) {
                self->onColorChanged(self->color_);
            }
        }
    });
    panel.orderFront();
}

void NSColorWell::deactivate() {
    if (activeWell() == this) {
        activeWell() = nullptr;
        NSColorPanel::sharedColorPanel().setColorChangedHandler({});
    }
}

bool NSColorWell::isActive() const {
    return activeWell() == this;
}

void NSColorWell::paintEvent(QPaintEvent* event) {
    QToolButton::paintEvent(event);
    QPainter painter(this);
    NSColorRef srgb = color_->colorUsingColorSpace(NSColorSpace::sRGBColorSpace());
    const QColor swatch =
        srgb ? QColor::fromRgbF(float(srgb->redComponent()), float(srgb->greenComponent()),
                                float(srgb->blueComponent()))
             : QColor(Qt::black);
    painter.fillRect(rect().adjusted(4, 4, -4, -4), swatch);
}

} // namespace velmora
