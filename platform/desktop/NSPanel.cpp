#include "desktop/NSPanel.hpp"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace velmora {

namespace {

// Sees every press first, to let a panel take the keyboard before its text field asks for it.
class PanelPressFilter : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::TabletPress) {
            return false;
        }
        auto* target = qobject_cast<QWidget*>(watched);
        if (!target || !NSPanel::needsKeyboard(target)) {
            return false;
        }
        std::shared_ptr<NSPanel> panel =
            std::dynamic_pointer_cast<NSPanel>(NSWindow::windowOf(target));
        if (panel && panel->becomesKeyOnlyIfNeeded() && !panel->isKeyWindow()) {
            panel->makeKeyWindow();
            target->setFocus(Qt::MouseFocusReason);
        }
        return false;
    }
};

void installPressFilter() {
    static PanelPressFilter* filter = [] {
        auto* made = new PanelPressFilter;
        made->setParent(qApp);
        qApp->installEventFilter(made);
        return made;
    }();
    (void)filter;
}

} // namespace

NSPanel::NSPanel(CGRect contentRect, NSWindowStyleMask style)
    : NSWindow(Kind::panel, contentRect, style) {
    setHidesOnDeactivate(true);
    // Brought forward from the windows menu, it leaves the keys where they are.
    setAction("makeKeyAndOrderFront:", [this](NSObject* sender) {
        becomesKeyOnlyIfNeeded_ ? orderFront(sender) : makeKeyAndOrderFront(sender);
    });
    updateWindowFlags();
}

void NSPanel::setFloatingPanel(bool floating) {
    setLevel(floating ? NSFloatingWindowLevel : NSNormalWindowLevel);
}

void NSPanel::setBecomesKeyOnlyIfNeeded(bool value) {
    becomesKeyOnlyIfNeeded_ = value;
    if (value) {
        installPressFilter();
    }
    updateWindowFlags();
}

void NSPanel::makeKeyWindow() {
    if (becomesKeyOnlyIfNeeded_ && !focusGranted_) {
        focusGranted_ = true;
        updateWindowFlags();
    }
    NSWindow::makeKeyWindow();
}

void NSPanel::didResignKey() {
    if (becomesKeyOnlyIfNeeded_ && focusGranted_) {
        focusGranted_ = false;
        updateWindowFlags();
    }
}

bool NSPanel::needsKeyboard(const QWidget* widget) {
    if (qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget) ||
        qobject_cast<const QTextEdit*>(widget) || qobject_cast<const QPlainTextEdit*>(widget)) {
        // A field that a press does not focus leaves the keyboard where it is.
        return widget->focusPolicy() & Qt::ClickFocus;
    }
    // The viewport of a text view receives its presses.
    const QWidget* parent = widget->parentWidget();
    return parent &&
           (qobject_cast<const QTextEdit*>(parent) || qobject_cast<const QPlainTextEdit*>(parent));
}

} // namespace velmora
