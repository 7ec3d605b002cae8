#include "desktop/NSColorPanel.hpp"

#include "desktop/NSPanel.hpp"

#include <QColorDialog>
#include <utility>

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
    // The panel's content, not a window of its own.
    dialog_->setWindowFlags(Qt::Widget);
    const QSize size = dialog_->sizeHint();
    panel_ =
        std::make_shared<NSPanel>(CGRect{{0, 0}, {double(size.width()), double(size.height())}});
    panel_->setTitle("Colors");
    panel_->setFloatingPanel(true);
    panel_->setBecomesKeyOnlyIfNeeded(true);
    // Its well brings it back.
    panel_->setExcludedFromWindowsMenu(true);
    panel_->setContentView(dialog_);
    dialog_->setVisible(true);
    if (!panel_->setFrameUsingName(frameAutosaveName)) {
        panel_->center();
    }
    panel_->setFrameAutosaveName(frameAutosaveName);
    QObject::connect(dialog_, &QColorDialog::currentColorChanged, dialog_,
                     [this](const QColor& color) {
                         if (handler_) {
                             handler_(colorFromQt(color));
                         }
                     });
    // Escape ends the dialog, which hides it: the panel closes around it instead.
    QObject::connect(dialog_, &QDialog::finished, dialog_, [this] {
        dialog_->setVisible(true);
        panel_->close();
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
    panel_->orderFront();
}

void NSColorPanel::close() {
    panel_->close();
}

bool NSColorPanel::isVisible() const {
    return panel_->isVisible();
}

CGRect NSColorPanel::frame() const {
    return panel_->frame();
}

void NSColorPanel::setFrame(CGRect frame, bool display) {
    panel_->setFrame(frame, display);
}

} // namespace velmora
