#pragma once

#include <QMargins>
#include <QRect>

class QWidget;

namespace velmora {

// The frame of a top-level widget: its content and the decorations that the
// window manager adds around it, in Qt's global coordinates. Until the widget
// exists on the window system its decorations are unknown: it is then placed
// by its frame's top-left corner, which the window manager keeps where it is
// asked, and `expected` stands in for the decorations.
struct WindowFrame {
    // Whether the window system has the widget; its decorations are its own from then on.
    static bool exists(const QWidget& window);
    static QMargins decorations(const QWidget& window, QMargins expected);
    static QRect frame(const QWidget& window, QMargins expected);
    static void setFrame(QWidget& window, const QRect& frame, QMargins expected);

    // The decorations last seen on a window of that type (Qt::Window,
    // Qt::Tool, Qt::Dialog): the best guess for another one not shown yet.
    static QMargins lastSeen(Qt::WindowType type);
};

} // namespace velmora
