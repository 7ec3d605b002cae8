#pragma once

#include "desktop/NSObject.hpp"

#include <memory>
#include <string>

namespace velmora {

class NSViewController;

// One run of a segue: handed to the source's `prepare(for:sender:)` before it is performed.
struct NSStoryboardSegue {
    std::string identifier;
    std::weak_ptr<NSViewController> sourceController;
    std::shared_ptr<NSViewController> destinationController;
};

} // namespace velmora
