#include "Utils/QuickEditTextFied.hpp"

#include "desktop/NSBeep.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NumberFormatter.hpp"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMetaObject>

namespace velmora {

QuickEditTextFied::QuickEditTextFied(QWidget* parent) : QLineEdit(parent) {}

QuickEditTextFied::~QuickEditTextFied() {
    NumberFormatter::detach(this);
}

void QuickEditTextFied::setFormatter(std::shared_ptr<const NumberFormatter> formatter) {
    NumberFormatter::detach(this);
    formatter_ = std::move(formatter);
    if (formatter_) {
        formatter_->attach(this);
    }
}

bool QuickEditTextFied::textShouldEndEditing() const {
    if (!formatter_) {
        return true;
    }
    const std::string current = text().toStdString();
    if (current.empty()) {
        NSBeep();
        return false;
    }
    // The formatter beeps itself when it refuses.
    return formatter_->isPartialStringValid(current, nullptr, nullptr);
}

void QuickEditTextFied::focusInEvent(QFocusEvent* event) {
    // A panel that becomes key only when needed needs it now.
    if (std::shared_ptr<NSWindow> shown = NSWindow::windowOf(this);
        shown && !shown->isKeyWindow()) {
        shown->makeKeyAndOrderFront();
    }
    QLineEdit::focusInEvent(event);
}

void QuickEditTextFied::focusOutEvent(QFocusEvent* event) {
    const bool withinWindow =
        event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason;
    if (!endingEditing_ && withinWindow && !textShouldEndEditing()) {
        // Keeps editing: the focus comes back once the move is done.
        QMetaObject::invokeMethod(
            this, [this] { setFocus(Qt::OtherFocusReason); }, Qt::QueuedConnection);
        return;
    }
    QLineEdit::focusOutEvent(event);
}

void QuickEditTextFied::mousePressEvent(QMouseEvent* event) {
    QLineEdit::mousePressEvent(event);
    selectAll();
}

void QuickEditTextFied::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (!textShouldEndEditing()) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
    if (hasFocus()) {
        endingEditing_ = true;
        clearFocus();
        endingEditing_ = false;
    }
}

} // namespace velmora
