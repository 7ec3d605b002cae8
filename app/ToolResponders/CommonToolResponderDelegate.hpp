#pragma once

#include "desktop/UndoManager.hpp"

#include <memory>

namespace velmora {

// The owner of the tool responders (the drawing view controller). A responder
// class that also derives from NSResponder overrides undoManager() once for both.
class CommonToolResponderDelegate {
public:
    virtual ~CommonToolResponderDelegate() = default;
    // None when there is nothing to undo into.
    virtual std::shared_ptr<UndoManager> undoManager() = 0;
};

} // namespace velmora
