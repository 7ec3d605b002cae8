#include "desktop/ApplicationActivity.hpp"

#include <QGuiApplication>
#include <QPointer>
#include <xcb/xcb.h>

namespace velmora {

ApplicationActivity& ApplicationActivity::shared() {
    static QPointer<ApplicationActivity> instance;
    if (instance.isNull()) {
        instance = new ApplicationActivity;
    }
    return *instance;
}

ApplicationActivity::ApplicationActivity()
    : QObject(qApp), qtActive_(QGuiApplication::applicationState() == Qt::ApplicationActive),
      active_(qtActive_) {
    qApp->installNativeEventFilter(this);
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                qtActive_ = state == Qt::ApplicationActive;
                // Told as Qt tells it, unless the hold stands in for it.
                if (qtActive_ || !heldByWindowManager_) {
                    active_ = qtActive_;
                    emit activeChanged(active_);
                }
            });
}

bool ApplicationActivity::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_focus_in_event_t*>(message);
    const auto type = event->response_type & ~0x80;
    if ((type != XCB_FOCUS_IN && type != XCB_FOCUS_OUT) ||
        event->detail == XCB_NOTIFY_DETAIL_POINTER) {
        return false;
    }
    // Focus-in and focus-out events share their layout. A focus-in ends the
    // hold and is left to Qt, which makes the application active; a
    // focus-out of another mode is a real deactivation, during the hold too.
    heldByWindowManager_ = type == XCB_FOCUS_OUT && event->mode == XCB_NOTIFY_MODE_GRAB;
    if (type == XCB_FOCUS_OUT) {
        update();
    }
    return false;
}

void ApplicationActivity::update() {
    const bool active = qtActive_ || heldByWindowManager_;
    if (active != active_) {
        active_ = active;
        emit activeChanged(active);
    }
}

} // namespace velmora
