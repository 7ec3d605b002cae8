#pragma once

#include "Document/UndoLock.hpp"
#include "desktop/NSDocument.hpp"

#include <cstdint>
#include <memory>

namespace velmora {

// A document whose undo manager is hidden while an edit that must not be
// interleaved with Undo or Redo is under way (a stroke, a drag of layer
// contents). The edit's owner holds an undo lock; while any lock exists the
// document reports no undo manager, so menus disable Undo and Redo and nothing
// registers through it. The owner of the lock reaches the real manager as
// `NSDocument::undoManager()`. Main thread only.
class ManagedDocument : public NSDocument, public UndoLockable {
public:
    class UndoLockedScope;

    ManagedDocument() = default;

    std::intptr_t undoLockCount() const { return undoLockCount_; }

    // None while locked.
    std::shared_ptr<UndoManager> undoManager() override;
    void setUndoManager(std::shared_ptr<UndoManager> undoManager) override;

    // An autosave waits while any lock is held: it would hold up the edit
    // (a stroke's samples) for as long as it writes.
    bool autosaveMayStartNow() const override { return undoLockCount_ == 0; }

    // A count past the largest machine word stops the program.
    [[nodiscard]] std::shared_ptr<UndoLock> makeUndoLock() override;

private:
    std::intptr_t undoLockCount_ = 0;
};

// The lock handed out; it keeps its document alive.
class ManagedDocument::UndoLockedScope : public UndoLock {
public:
    explicit UndoLockedScope(std::shared_ptr<ManagedDocument> document);
    // Releasing a scope when the count is already 0 stops the program.
    ~UndoLockedScope() override;
    UndoLockedScope(const UndoLockedScope&) = delete;
    UndoLockedScope& operator=(const UndoLockedScope&) = delete;

    const std::shared_ptr<ManagedDocument>& document() const { return document_; }

private:
    std::shared_ptr<ManagedDocument> document_;
};

} // namespace velmora
