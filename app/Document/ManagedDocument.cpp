#include "Document/ManagedDocument.hpp"

#include "foundation/FatalError.hpp"

#include <limits>

namespace velmora {

std::shared_ptr<UndoManager> ManagedDocument::undoManager() {
    if (undoLockCount_ != 0) {
        return nullptr;
    }
    return NSDocument::undoManager();
}

void ManagedDocument::setUndoManager(std::shared_ptr<UndoManager> undoManager) {
    NSDocument::setUndoManager(std::move(undoManager));
}

std::shared_ptr<UndoLock> ManagedDocument::makeUndoLock() {
    auto self = sharedAs<ManagedDocument>();
    if (!self) {
        fatalError("An undo lock was asked of a document not owned by a shared pointer");
    }
    return std::make_shared<UndoLockedScope>(std::move(self));
}

ManagedDocument::UndoLockedScope::UndoLockedScope(std::shared_ptr<ManagedDocument> document)
    : document_(std::move(document)) {
    if (document_->undoLockCount_ == std::numeric_limits<std::intptr_t>::max()) {
        fatalError("Undo lock count overflow");
    }
    ++document_->undoLockCount_;
}

ManagedDocument::UndoLockedScope::~UndoLockedScope() {
    if (document_->undoLockCount_ <= 0) {
        fatalError("Undo lock released while the document holds none");
    }
    --document_->undoLockCount_;
}

} // namespace velmora
