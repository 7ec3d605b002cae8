#include "desktop/NotificationCenter.hpp"
#include "desktop/UndoManager.hpp"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using namespace velmora;

namespace {

void endTurn() {
    QCoreApplication::processEvents();
}

// A value whose every change registers its inverse, as model controllers do;
// it names the entry only outside undo and redo.
struct Counter : std::enable_shared_from_this<Counter> {
    int value = 0;
    void add(UndoManager& manager, int delta, const std::string& name = "Add") {
        value += delta;
        manager.registerUndo<Counter>(shared_from_this(), [&manager, delta, name](Counter& c) {
            c.add(manager, -delta, name);
        });
        if (!manager.isUndoing() && !manager.isRedoing()) {
            manager.setActionName(name);
        }
    }
};

} // namespace

TEST(UndoManager, RegistrationsOfOneTurnAreOneEntry) {
    UndoManager manager;
    const auto counter = std::make_shared<Counter>();
    counter->add(manager, 1);
    counter->add(manager, 10);
    EXPECT_EQ(manager.groupingLevel(), 1);
    endTurn();
    EXPECT_EQ(manager.groupingLevel(), 0);
    counter->add(manager, 100);
    endTurn();

    manager.undo();
    EXPECT_EQ(counter->value, 11);
    manager.undo();
    EXPECT_EQ(counter->value, 0);
    EXPECT_FALSE(manager.canUndo());
    manager.redo();
    EXPECT_EQ(counter->value, 11);
}

TEST(UndoManager, AGroupSpanningADragIsOneEntryAcrossTurns) {
    UndoManager manager;
    const auto counter = std::make_shared<Counter>();
    manager.beginUndoGrouping();
    EXPECT_EQ(manager.groupingLevel(), 2);
    for (int step = 1; step <= 3; ++step) {
        counter->add(manager, step, "Layer Opacity Change");
        endTurn();
        EXPECT_EQ(manager.groupingLevel(), 2);
        EXPECT_FALSE(manager.canUndo()) << "undo would tear the drag's group apart";
    }
    manager.endUndoGrouping();
    EXPECT_EQ(manager.groupingLevel(), 1);
    endTurn();
    EXPECT_EQ(manager.groupingLevel(), 0);
    EXPECT_EQ(manager.undoMenuItemTitle(), "Undo Layer Opacity Change");
    manager.undo();
    EXPECT_EQ(counter->value, 0);
    EXPECT_FALSE(manager.canUndo());
}

TEST(UndoManager, UndoClosesTheOpenGroupFirst) {
    UndoManager manager;
    const auto counter = std::make_shared<Counter>();
    counter->add(manager, 5);
    EXPECT_TRUE(manager.canUndo());
    manager.undo();
    EXPECT_EQ(counter->value, 0);
    EXPECT_EQ(manager.groupingLevel(), 0);
    EXPECT_TRUE(manager.canRedo());
}

TEST(UndoManager, TheGroupOfAnEventStaysOpenWhileANestedLoopRuns) {
    UndoManager manager;
    const auto counter = std::make_shared<Counter>();
    int levelInside = -1;
    int levelAfter = -1;
    QEventLoop outer;
    QTimer::singleShot(0, &outer, [&] {
        counter->add(manager, 1);
        QEventLoop modal;
        QTimer::singleShot(5, &modal, [&] {
            levelInside = manager.groupingLevel();
            modal.quit();
        });
        modal.exec();
        counter->add(manager, 2);
        levelAfter = manager.groupingLevel();
        QTimer::singleShot(20, &outer, &QEventLoop::quit);
    });
    outer.exec();
    EXPECT_EQ(levelInside, 1);
    EXPECT_EQ(levelAfter, 1);
    EXPECT_EQ(manager.groupingLevel(), 0);
    manager.undo();
    EXPECT_EQ(counter->value, 0) << "both registrations belong to the one event";
}

TEST(UndoManager, RedoEntriesAreNamedLikeTheUndoneOneUnlessRenamed) {
    struct Case {
        const char* renameWhileUndoing;
        const char* redoTitle;
    };
    for (const Case& c : {Case{nullptr, "Redo Stroke"}, Case{"Add Layer", "Redo Add Layer"}}) {
        UndoManager manager;
        const auto counter = std::make_shared<Counter>();
        counter->add(manager, 1, "Stroke");
        if (c.renameWhileUndoing != nullptr) {
            manager.registerUndo<Counter>(counter, [&manager, &c](Counter&) {
                manager.registerUndo<Counter>(std::make_shared<Counter>(), [](Counter&) {});
                manager.setActionName(c.renameWhileUndoing);
            });
        }
        endTurn();
        manager.undo();
        EXPECT_EQ(counter->value, 0);
        EXPECT_EQ(manager.redoMenuItemTitle(), c.redoTitle);
        EXPECT_FALSE(manager.canUndo());
        manager.redo();
        EXPECT_EQ(counter->value, 1);
        // While redoing, registrations make the undo entry, under the redo's name.
        EXPECT_EQ(manager.undoMenuItemTitle(), std::string("Undo") + (c.redoTitle + 4));
    }
}

TEST(UndoManager, RedoKeepsLaterRedoEntriesAndANewEditClearsThem) {
    UndoManager manager;
    const auto counter = std::make_shared<Counter>();
    for (int delta : {1, 2, 4}) {
        counter->add(manager, delta);
        endTurn();
    }
    manager.undo();
    manager.undo();
    EXPECT_EQ(counter->value, 1);
    manager.redo();
    EXPECT_EQ(counter->value, 3);
    EXPECT_TRUE(manager.canRedo()) << "redoing must not clear the rest of the redo stack";
    counter->add(manager, 8);
    EXPECT_FALSE(manager.canRedo());
    endTurn();
    manager.undo();
    EXPECT_EQ(counter->value, 3);
}

TEST(UndoManager, EmptyGroupsLeaveNothing) {
    UndoManager manager;
    const auto counter = std::make_shared<Counter>();
    counter->add(manager, 1, "Stroke");
    endTurn();
    manager.beginUndoGrouping();
    manager.beginUndoGrouping();
    manager.endUndoGrouping();
    manager.endUndoGrouping();
    endTurn();
    EXPECT_EQ(manager.undoActionName(), "Stroke");
    manager.undo();
    EXPECT_EQ(counter->value, 0);
    EXPECT_FALSE(manager.canUndo());
}

TEST(UndoManager, EntriesOfAGoneTargetDoNothing) {
    UndoManager manager;
    auto kept = std::make_shared<Counter>();
    auto gone = std::make_shared<Counter>();
    kept->add(manager, 1);
    gone->add(manager, 1);
    endTurn();
    gone->add(manager, 5);
    endTurn();
    gone.reset();
    manager.undo(); // only the gone target's entry: nothing happens, nothing crashes
    EXPECT_EQ(kept->value, 1);
    manager.undo();
    EXPECT_EQ(kept->value, 0);
}

TEST(UndoManager, RemovingATargetsActionsDropsEntriesLeftEmpty) {
    UndoManager manager;
    const auto a = std::make_shared<Counter>();
    const auto b = std::make_shared<Counter>();
    a->add(manager, 1, "A");
    endTurn();
    a->add(manager, 2, "Both");
    b->add(manager, 2, "Both");
    endTurn();
    b->add(manager, 3, "B");
    endTurn();
    manager.removeAllActions(b);
    EXPECT_EQ(manager.undoActionName(), "Both");
    manager.undo();
    EXPECT_EQ(a->value, 1);
    EXPECT_EQ(b->value, 5);
    manager.undo();
    EXPECT_EQ(a->value, 0);
    EXPECT_FALSE(manager.canUndo());
}

TEST(UndoManager, LevelsOfUndoDropTheOldestEntries) {
    UndoManager manager;
    manager.setLevelsOfUndo(2);
    const auto counter = std::make_shared<Counter>();
    for (int delta : {1, 2, 4}) {
        counter->add(manager, delta);
        endTurn();
    }
    manager.undo();
    manager.undo();
    EXPECT_FALSE(manager.canUndo());
    EXPECT_EQ(counter->value, 1);
}

TEST(UndoManager, PostsCloseUndoAndRedoChangesWithItselfAsObject) {
    UndoManager manager;
    const auto counter = std::make_shared<Counter>();
    std::vector<std::string> seen;
    auto token = NotificationCenter::defaultCenter().addObserver(
        "", &manager, std::nullopt, [&](const Notification& n) {
            if (n.name == UndoManager::didCloseUndoGroupNotification ||
                n.name == UndoManager::didUndoChangeNotification ||
                n.name == UndoManager::didRedoChangeNotification) {
                seen.push_back(n.name);
            }
        });
    manager.beginUndoGrouping();
    manager.endUndoGrouping();
    endTurn(); // empty: no entry, no close notification
    counter->add(manager, 1);
    endTurn();
    manager.undo();
    manager.redo();
    EXPECT_EQ(seen, (std::vector<std::string>{UndoManager::didCloseUndoGroupNotification,
                                              UndoManager::didUndoChangeNotification,
                                              UndoManager::didRedoChangeNotification}));
}
