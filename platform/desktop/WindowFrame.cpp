#include "desktop/WindowFrame.hpp"

#include <QWidget>
#include <map>

namespace velmora {

namespace {

std::map<Qt::WindowType, QMargins>& seen() {
    static std::map<Qt::WindowType, QMargins> margins;
    return margins;
}

} // namespace

bool WindowFrame::exists(const QWidget& window) {
    return window.testAttribute(Qt::WA_WState_Created);
}

QMargins WindowFrame::decorations(const QWidget& window, QMargins expected) {
    if (!exists(window)) {
        return expected;
    }
    const QRect outer = window.frameGeometry();
    const QRect inner = window.geometry();
    const QMargins margins(inner.left() - outer.left(), inner.top() - outer.top(),
                           outer.right() - inner.right(), outer.bottom() - inner.bottom());
    if (!margins.isNull() && window.isVisible()) {
        seen()[window.windowType()] = margins;
    }
    return margins;
}

QRect WindowFrame::frame(const QWidget& window, QMargins expected) {
    if (exists(window)) {
        return window.frameGeometry();
    }
    // Placed by its frame's corner so far (see setFrame).
    return QRect(window.pos(), window.size().grownBy(expected));
}

void WindowFrame::setFrame(QWidget& window, const QRect& frame, QMargins expected) {
    if (!exists(window)) {
        // A move before the widget exists places its frame: the window manager
        // keeps the frame's corner there whatever decorations it adds.
        window.resize(frame.marginsRemoved(expected).size());
        window.move(frame.topLeft());
        return;
    }
    window.setGeometry(frame.marginsRemoved(decorations(window, expected)));
}

QMargins WindowFrame::lastSeen(Qt::WindowType type) {
    const auto found = seen().find(type);
    return found == seen().end() ? QMargins() : found->second;
}

} // namespace velmora
