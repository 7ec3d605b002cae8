#include "Document/ManagedDocument.hpp"
#include "desktop/UndoManager.hpp"

#include <gtest/gtest.h>
#include <memory>

using namespace velmora;

TEST(ManagedDocument, UndoManagerIsHiddenUntilTheLastOfOverlappingLocksEnds) {
    const auto document = std::make_shared<ManagedDocument>();
    const auto manager = document->undoManager();
    ASSERT_TRUE(manager);
    auto stroke = document->makeUndoLock();
    auto drag = document->makeUndoLock();
    EXPECT_EQ(document->undoLockCount(), 2);
    stroke.reset();
    EXPECT_EQ(document->undoManager(), nullptr);
    EXPECT_EQ(document->NSDocument::undoManager(), manager) << "the lock holder's way in";
    drag.reset();
    EXPECT_EQ(document->undoLockCount(), 0);
    EXPECT_EQ(document->undoManager(), manager);
}

TEST(ManagedDocument, AManagerSetWhileLockedShowsWhenTheLockEnds) {
    const auto document = std::make_shared<ManagedDocument>();
    auto lock = document->makeUndoLock();
    const auto replacement = std::make_shared<UndoManager>();
    document->setUndoManager(replacement);
    EXPECT_EQ(document->undoManager(), nullptr);
    EXPECT_EQ(document->NSDocument::undoManager(), replacement);
    lock.reset();
    EXPECT_EQ(document->undoManager(), replacement);
}

TEST(ManagedDocument, ALockKeepsItsDocumentAlive) {
    auto document = std::make_shared<ManagedDocument>();
    const std::weak_ptr<ManagedDocument> weak = document;
    std::shared_ptr<UndoLock> lock = static_cast<UndoLockable&>(*document).makeUndoLock();
    document.reset();
    ASSERT_FALSE(weak.expired());
    EXPECT_EQ(weak.lock()->undoLockCount(), 1);
    lock.reset();
    EXPECT_TRUE(weak.expired());
}

TEST(ManagedDocument, AutosavesWaitWhileAnyLockIsHeld) {
    const auto document = std::make_shared<ManagedDocument>();
    EXPECT_TRUE(document->autosaveMayStartNow());
    auto stroke = document->makeUndoLock();
    auto drag = document->makeUndoLock();
    stroke.reset();
    EXPECT_FALSE(document->autosaveMayStartNow());
    drag.reset();
    EXPECT_TRUE(document->autosaveMayStartNow());
}
