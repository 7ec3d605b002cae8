#pragma once

#include "desktop/NSEvent.hpp"

#include <functional>

namespace velmora {

// Passes the scroll events that reach it to one installed handler.
class ScrollProvider {
public:
    using ScrollHandler = std::function<void(const NSEvent&)>;

    virtual ~ScrollProvider() = default;
    // An empty handler removes the one installed.
    virtual void setScrollHandler(ScrollHandler handler) = 0;
};

} // namespace velmora
