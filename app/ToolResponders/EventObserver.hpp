#pragma once

#include "desktop/NSEvent.hpp"

#include <functional>
#include <optional>

namespace velmora {

// Keeps a local event monitor installed for as long as it lives: every
// matching event of the application is shown to the handler and then goes on
// to its receiver. Dropping the observer stops observing.
class EventObserver {
public:
    using Handler = std::function<void(const NSEvent&)>;

    EventObserver(NSEventMask mask, Handler handler);
    ~EventObserver();
    EventObserver(const EventObserver&) = delete;
    EventObserver& operator=(const EventObserver&) = delete;

    // None when no monitor could be installed (no running application).
    const std::optional<NSEventMonitor>& monitor() const { return monitor_; }

private:
    std::optional<NSEventMonitor> monitor_;
};

} // namespace velmora
