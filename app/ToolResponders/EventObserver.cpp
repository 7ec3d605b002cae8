#include "ToolResponders/EventObserver.hpp"

namespace velmora {

EventObserver::EventObserver(NSEventMask mask, Handler handler)
    : monitor_(NSEvent::addLocalMonitorForEvents(
          mask, [handler = std::move(handler)](const NSEvent& event) -> std::optional<NSEvent> {
              handler(event);
              return event;
          })) {}

EventObserver::~EventObserver() {
    if (monitor_) {
        NSEvent::removeMonitor(*monitor_);
    }
}

} // namespace velmora
