#pragma once

#include <functional>

namespace velmora {

// The end of the main thread's current pass through its event loop: work given
// here runs once control is back in the loop that was running when it was
// given (or an outer one), after the event being handled is done. A modal loop
// entered meanwhile does not end the outer turn. Main thread only.
class EventLoopTurn {
public:
    static void afterCurrentTurn(std::function<void()> work);
};

} // namespace velmora
