#pragma once

#include "foundation/DispatchQueue.hpp"

#include <chrono>
#include <cstddef>
#include <functional>

namespace velmora {

// The work of `DispatchQueue::main()`, run on the main thread by whoever owns
// the event loop. The application binds a waker that schedules `drain()` in its
// event loop at the given time (at once when it is in the past); tests instead
// run the queue by hand. Draining and running are for the main thread only.
class MainQueue {
public:
    using Waker = std::function<void(DispatchTime when)>;

    // Called from any thread whenever work becomes due earlier than before.
    static void bind(Waker waker);
    static void unbind();

    // Runs the items that are due now, then asks the waker for the next drain.
    static std::size_t drain();

    // Runs due items, including those they submit, until none is due; delayed
    // items whose time has not come stay queued.
    static std::size_t runUntilIdle();

    // Runs items as they become due until `deadline`.
    static std::size_t runUntil(DispatchTime deadline);

    // Runs items as they become due until `done()` holds or `timeout` passes;
    // answers whether `done()` held.
    static bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

    // When the earliest delayed item is due, if any.
    static std::optional<DispatchTime> nextDeadline();
};

} // namespace velmora
