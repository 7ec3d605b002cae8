#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

namespace velmora {

// Whether the application is active, as windows that hide while it is away
// take it: Qt's application state, except while the window manager holds the
// keyboard to move or resize a window or to show a window menu. X11 tells
// that hold to the focused window as a focus-out of mode "grab", which Qt
// takes for a deactivation; a panel hidden then would end the very move that
// drags it. A focus change during or after the hold is a deactivation again.
// Main thread only.
class ApplicationActivity : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    static ApplicationActivity& shared();

    bool isActive() const { return active_; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void activeChanged(bool active);

private:
    ApplicationActivity();
    void update();

    bool qtActive_;
    bool heldByWindowManager_ = false;
    bool active_;
};

} // namespace velmora
