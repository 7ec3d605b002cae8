#pragma once

#include "desktop/RegistrationUndoManager.hpp"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

// Undo and redo stacks of entries, each a group of actions run together.
//
// A registration outside any group opens one, which closes when the event loop
// that was running finishes its turn (groupsByEvent); explicit groups nest
// inside it, so a group spanning a drag becomes one entry however many turns
// it lasts. While undoing, registrations make the redo entry, named like the
// undone one unless renamed; while redoing, they make the undo entry; any other
// registration clears the redo stack. Groups without actions leave nothing.
// Changes are posted to the default notification center with this manager as
// the object. Main thread only.
class UndoManager : public RegistrationUndoManager {
public:
    static constexpr const char* didOpenUndoGroupNotification =
        "NSUndoManagerDidOpenUndoGroupNotification";
    static constexpr const char* willCloseUndoGroupNotification =
        "NSUndoManagerWillCloseUndoGroupNotification";
    // Posted when a group closed as a new undo entry (one with actions).
    static constexpr const char* didCloseUndoGroupNotification =
        "NSUndoManagerDidCloseUndoGroupNotification";
    static constexpr const char* willUndoChangeNotification =
        "NSUndoManagerWillUndoChangeNotification";
    static constexpr const char* didUndoChangeNotification =
        "NSUndoManagerDidUndoChangeNotification";
    static constexpr const char* willRedoChangeNotification =
        "NSUndoManagerWillRedoChangeNotification";
    static constexpr const char* didRedoChangeNotification =
        "NSUndoManagerDidRedoChangeNotification";

    UndoManager();
    ~UndoManager() override;
    UndoManager(const UndoManager&) = delete;
    UndoManager& operator=(const UndoManager&) = delete;

    void beginUndoGrouping() override;
    // Without an open group this is a programming error and stops the program.
    void endUndoGrouping() override;
    // Its groups must balance.
    void registerSeparateEntry(const std::function<void()>& registrations) override;
    int groupingLevel() const { return static_cast<int>(open_.size()); }
    bool groupsByEvent() const { return groupsByEvent_; }
    void setGroupsByEvent(bool groupsByEvent) { groupsByEvent_ = groupsByEvent; }

    // Most undo entries kept, 0 for no limit; the oldest go first.
    std::size_t levelsOfUndo() const { return levelsOfUndo_; }
    void setLevelsOfUndo(std::size_t levels);

    // False while an explicit group is open inside the event's group: undoing
    // then would tear it apart.
    bool canUndo() const;
    bool canRedo() const;
    // Closes the event's open group first, then undoes the latest entry.
    void undo();
    void redo();
    bool isUndoing() const override { return state_ == State::undoing; }
    bool isRedoing() const override { return state_ == State::redoing; }

    // Names the entry being built (or, with none open, the latest undo entry).
    void setActionName(const std::string& name) override;
    std::string undoActionName() const;
    std::string redoActionName() const;
    // "Undo" or "Undo <name>"; "Redo" or "Redo <name>".
    std::string undoMenuItemTitle() const;
    std::string redoMenuItemTitle() const;
    static std::string undoMenuTitle(const std::string& actionName);
    static std::string redoMenuTitle(const std::string& actionName);

    void removeAllActions();
    // Drops every action of that target; entries left without actions go.
    template <class T> void removeAllActions(const std::shared_ptr<T>& target) {
        removeAllActionsOf(std::static_pointer_cast<void>(target));
    }

protected:
    void registerUndoAction(const std::shared_ptr<void>& target,
                            std::function<void(void*)> handler) override;

private:
    struct Action {
        std::weak_ptr<void> target;
        std::function<void(void*)> handler;
    };
    struct Group {
        std::vector<Action> actions;
        std::string actionName;
    };
    enum class State { idle, undoing, redoing };

    void openGroup();
    void openEventGroup();
    void closeTopLevel();
    void scheduleTurnEnd();
    void endTurn();
    void push(std::vector<Group>& stack, Group group);
    Group* namedGroup();
    void run(Group group, State state, std::vector<Group>& destination);
    void removeAllActionsOf(const std::shared_ptr<void>& target);
    void post(const char* name);

    std::vector<Group> undoStack_;
    std::vector<Group> redoStack_;
    // Open groups, outermost first; a closing nested group hands its actions on.
    std::vector<Group> open_;
    bool openedByEvent_ = false;
    bool turnEndPending_ = false;
    // While undoing or redoing: the entry the handlers' registrations build.
    Group collecting_;
    int collectingDepth_ = 0;
    State state_ = State::idle;
    bool groupsByEvent_ = true;
    std::size_t levelsOfUndo_ = 0;
    // Lets a pending end of turn find out that this manager is gone.
    std::shared_ptr<UndoManager*> self_;
};

} // namespace velmora
