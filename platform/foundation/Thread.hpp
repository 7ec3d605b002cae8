#pragma once

#include <string_view>

namespace velmora {

// The main thread is the process's first thread, the one that runs the event loop.
class Thread {
public:
    static bool isMainThread();

    // Names the calling thread for debuggers and `top` (the kernel keeps 15 characters).
    static void setCurrentName(std::string_view name);
};

} // namespace velmora
