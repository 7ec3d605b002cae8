#include "App/PointingDeviceManager.hpp"

namespace velmora {

const std::shared_ptr<PointingDeviceManager>& PointingDeviceManager::shared() {
    static const std::shared_ptr<PointingDeviceManager> instance = make();
    return instance;
}

std::shared_ptr<PointingDeviceManager> PointingDeviceManager::make() {
    auto manager = std::shared_ptr<PointingDeviceManager>(new PointingDeviceManager());
    std::weak_ptr<PointingDeviceManager> weak = manager;
    manager->eventObserver_ =
        std::make_unique<EventObserver>(NSEventMask::tabletProximity, [weak](const NSEvent& e) {
            if (auto self = weak.lock()) {
                self->proximityChanged(e);
            }
        });
    return manager;
}

void PointingDeviceManager::proximityChanged(const NSEvent& event) {
    if (event.isEnteringProximity()) {
        stylusIDsInProximity_.insert(event.deviceID());
    } else {
        stylusIDsInProximity_.erase(event.deviceID());
    }
}

PointingDevice PointingDeviceManager::pointingDevice(const NSEvent& event) const {
    if (stylusIDsInProximity_.contains(event.deviceID())) {
        return PointingDevice::stylus;
    }
    if (event.type() == NSEventType::leftMouseUp &&
        event.subtype() == NSEventSubtype::tabletPoint) {
        return PointingDevice::stylus;
    }
    if (event.subtype() == NSEventSubtype::touch ||
        event.subtype() == NSEventSubtype::tabletPoint) {
        return PointingDevice::touch;
    }
    return PointingDevice::mouse;
}

} // namespace velmora
