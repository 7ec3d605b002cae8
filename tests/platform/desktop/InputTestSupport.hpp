#pragma once

#include <QCoreApplication>
#include <QPointingDevice>
#include <QTabletEvent>
#include <memory>
#include <vector>

namespace velmora::test {

// Tablet tools and a touch screen as Qt describes them; one object per tool,
// owned by the application like Qt's own.
inline const QPointingDevice* tabletTool(QPointingDevice::PointerType type, qint64 serial) {
    static std::vector<const QPointingDevice*> devices;
    for (const auto& d : devices) {
        if (d->pointerType() == type && d->uniqueId().numericId() == serial) {
            return d;
        }
    }
    return devices.emplace_back(new QPointingDevice(
        "test tablet", 42, QInputDevice::DeviceType::Stylus, type,
        QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1, 3, QString(),
        QPointingDeviceUniqueId::fromNumericId(serial), QCoreApplication::instance()));
}

inline const QPointingDevice* pen(qint64 serial = 1) {
    return tabletTool(QPointingDevice::PointerType::Pen, serial);
}

inline const QPointingDevice* eraser(qint64 serial = 1) {
    return tabletTool(QPointingDevice::PointerType::Eraser, serial);
}

inline const QPointingDevice* touchScreen() {
    static const QPointingDevice* device = new QPointingDevice(
        "test touch screen", 43, QInputDevice::DeviceType::TouchScreen,
        QPointingDevice::PointerType::Finger, QInputDevice::Capability::Position, 10, 0, QString(),
        QPointingDeviceUniqueId(), QCoreApplication::instance());
    return device;
}

inline QTabletEvent tabletEvent(QEvent::Type type, const QPointingDevice* device, QPointF pos,
                                qreal pressure = 0.5, Qt::MouseButtons buttons = Qt::LeftButton) {
    const Qt::MouseButton button = type == QEvent::TabletMove ? Qt::NoButton : Qt::LeftButton;
    return QTabletEvent(type, device, pos, pos, pressure, 0, 0, 0, 0, 0, Qt::NoModifier, button,
                        type == QEvent::TabletRelease ? Qt::NoButton : buttons);
}

inline QTabletEvent proximityEvent(bool entering, const QPointingDevice* device) {
    return QTabletEvent(entering ? QEvent::TabletEnterProximity : QEvent::TabletLeaveProximity,
                        device, QPointF(), QPointF(), 0, 0, 0, 0, 0, 0, Qt::NoModifier,
                        Qt::NoButton, Qt::NoButton);
}

} // namespace velmora::test
