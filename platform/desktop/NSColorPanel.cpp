#include "desktop/NSColorPanel.hpp"

#include "desktop/NSScreen.hpp"
#include "desktop/WindowFrame.hpp"

#include <QColorDialog>
#include <QEvent>
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

// Calls back on every move, resize or repaint of the watched widget.
class EventCall : public QObject {
public:
    EventCall(QObject* parent, std::function<void()> call)
        : QObject(parent), call_(std::move(call)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type == QEvent::Move || type == QEvent::Resize || type == QEvent::Paint ||
            type == QEvent::UpdateRequest) {
            call_();
        }
        return false;
    }

private:
    std::function<void()> call_;
};

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
    // The dialog shows where it is put but keeps its content there, leaving
    // its frame a title bar higher than asked once the window manager frames
    // it; so a frame restored before it shows is put right after that.
    dialog_->installEventFilter(new EventCall(dialog_, [this] { framed(); }));
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
    const QRect target = NSScreen::qtRect(frame);
    if (!WindowFrame::exists(*dialog_)) {
        // Put right once the window manager has framed it (see the constructor).
        pendingFrame_ = target;
    }
    WindowFrame::setFrame(*dialog_, target, WindowFrame::lastSeen(dialog_->windowType()));
}

void NSColorPanel::framed() {
    if (!pendingFrame_ || !dialog_->isVisible() ||
        dialog_->frameGeometry() == dialog_->geometry()) {
        return;
    }
    const QRect target = *std::exchange(pendingFrame_, std::nullopt);
    if (dialog_->frameGeometry() != target) {
        WindowFrame::setFrame(*dialog_, target, {});
    }
}

} // namespace velmora
