#pragma once

#include "App/PointingDevice.hpp"
#include "ToolResponders/EventObserver.hpp"
#include "desktop/NSEvent.hpp"

#include <cstdint>
#include <memory>
#include <set>

namespace velmora {

// Tells a stylus from a mouse or a touch surface. Pointer events carry a device
// number and a subtype but do not say reliably that a stylus made them, so the
// manager keeps the numbers of the tablet tools near the tablet, learned from
// the proximity events, and classifies each event against them. Main thread.
class PointingDeviceManager : public std::enable_shared_from_this<PointingDeviceManager> {
public:
    // Made on first use, which starts tracking proximity; never released.
    static const std::shared_ptr<PointingDeviceManager>& shared();
    // A manager of its own, tracking from now on.
    static std::shared_ptr<PointingDeviceManager> make();

    PointingDevice pointingDevice(const NSEvent& event) const;

    const std::set<int64_t>& stylusIDsInProximity() const { return stylusIDsInProximity_; }
    const EventObserver* eventObserver() const { return eventObserver_.get(); }

    // A tool entered or left the tablet's proximity.
    void proximityChanged(const NSEvent& event);

private:
    PointingDeviceManager() = default;

    std::set<int64_t> stylusIDsInProximity_;
    std::unique_ptr<EventObserver> eventObserver_;
};

} // namespace velmora
