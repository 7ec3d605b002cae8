#pragma once

#include <memory>

namespace velmora {

// A token that keeps an edit's undo lock while it is held; releasing the last
// reference ends the lock.
class UndoLock {
public:
    virtual ~UndoLock() = default;
};

// Hands out undo locks: while one exists, Undo and Redo are unavailable.
class UndoLockable {
public:
    virtual ~UndoLockable() = default;
    [[nodiscard]] virtual std::shared_ptr<UndoLock> makeUndoLock() = 0;
};

} // namespace velmora
