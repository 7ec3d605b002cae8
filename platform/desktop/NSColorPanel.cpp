#include "desktop/NSColorPanel.hpp"

#include "desktop/NSScreen.hpp"
#include "desktop/WindowFrame.hpp"

#include <QColorDialog>

namespace velmora {

namespace {

NSColorPanel*& sharedInstance() {
    static NSColorPanel* panel = nullptr;
    return panel;
}

QColor qtColor(const NSColorRef& color) {
    NSColorRef srgb = color ? color->colorUsingColorSpace(NSColorSpace::sRGBColorSpace()) : nullptr;
    if (!srgb) {
        return Qt::black;
    }
    return QColor::fromRgbF(float(srgb->redComponent()), float(srgb->greenComponent()),
                            float(srgb->blueComponent()), float(srgb->alphaComponent()));
}

NSColorRef colorFromQt(const QColor& color) {
    const QColor rgb = color.toRgb();
    return NSColor::colorWithSRGBRed(rgb.redF(), rgb.greenF(), rgb.blueF(), 1.0);
}

} // namespace

NSColorPanel& NSColorPanel::sharedColorPanel() {
    if (!sharedInstance()) {
        // Kept until exit, like the platform's.
        sharedInstance() = new NSColorPanel;
    }
    return *sharedInstance();
}

bool NSColorPanel::sharedColorPanelExists() {
    return sharedInstance() != nullptr;
}

NSColorPanel::NSColorPanel() : dialog_(new QColorDialog) {
    dialog_->setOptions(QColorDialog::DontUseNativeDialog | QColorDialog::NoButtons);
    dialog_->setWindowTitle(QStringLiteral("Colors"));
    QObject::connect(dialog_, &QColorDialog::currentColorChanged, dialog_,
                     [this](const QColor& color) {
                         if (handler_) {
                             handler_(colorFromQt(color));
                         }
                     });
}

NSColorRef NSColorPanel::color() const {
    return colorFromQt(dialog_->currentColor());
}

void NSColorPanel::setColor(const NSColorRef& color) {
    const QSignalBlocker quiet(dialog_);
    dialog_->setCurrentColor(qtColor(color));
}

void NSColorPanel::setColorChangedHandler(std::function<void(const NSColorRef&)> handler) {
    handler_ = std::move(handler);
}

void NSColorPanel::orderFront() {
    dialog_->show();
}

void NSColorPanel::close() {
    dialog_->hide();
}

bool NSColorPanel::isVisible() const {
    return dialog_->isVisible();
}

CGRect NSColorPanel::frame() const {
    return NSScreen::rectFromQt(
        WindowFrame::frame(*dialog_, WindowFrame::lastSeen(dialog_->windowType())));
}

void NSColorPanel::setFrame(CGRect frame, bool) {
    WindowFrame::setFrame(*dialog_, NSScreen::qtRect(frame),
                          WindowFrame::lastSeen(dialog_->windowType()));
}

} // namespace velmora
