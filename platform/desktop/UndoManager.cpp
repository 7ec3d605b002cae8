#include "desktop/UndoManager.hpp"

#include "desktop/EventLoopTurn.hpp"
#include "desktop/NotificationCenter.hpp"
#include "foundation/FatalError.hpp"

#include <algorithm>
#include <ranges>
#include <utility>

namespace velmora {

namespace {

bool sameOwner(const std::weak_ptr<void>& a, const std::shared_ptr<void>& b) {
    return !a.owner_before(b) && !b.owner_before(a);
}

} // namespace

UndoManager::UndoManager() : self_(std::make_shared<UndoManager*>(this)) {}

UndoManager::~UndoManager() = default;

void UndoManager::beginUndoGrouping() {
    if (state_ != State::idle) {
        ++collectingDepth_;
        return;
    }
    if (open_.empty() && groupsByEvent_) {
        openEventGroup();
    }
    openGroup();
}

void UndoManager::endUndoGrouping() {
    if (state_ != State::idle) {
        if (collectingDepth_ == 0) {
            fatalError("endUndoGrouping without a matching beginUndoGrouping");
        }
        --collectingDepth_;
        return;
    }
    if (open_.empty()) {
        fatalError("endUndoGrouping without a matching beginUndoGrouping");
    }
    if (open_.size() == 1) {
        closeTopLevel();
        return;
    }
    post(willCloseUndoGroupNotification);
    Group nested = std::move(open_.back());
    open_.pop_back();
    auto& outer = open_.back().actions;
    std::ranges::move(nested.actions, std::back_inserter(outer));
    if (open_.size() == 1 && openedByEvent_) {
        scheduleTurnEnd();
    }
}

void UndoManager::registerSeparateEntry(const std::function<void()>& registrations) {
    if (state_ != State::idle) {
        registrations();
        return;
    }
    // The groups open now go back as they were, also when `registrations` throws.
    struct Restore {
        UndoManager& manager;
        std::vector<Group> open;
        bool openedByEvent;
        ~Restore() {
            manager.open_ = std::move(open);
            manager.openedByEvent_ = openedByEvent;
        }
    } restore{*this, std::exchange(open_, {}), std::exchange(openedByEvent_, false)};
    openGroup();
    registrations();
    if (open_.size() != 1) {
        fatalError("Unbalanced undo groups in a separate entry");
    }
    closeTopLevel();
}

void UndoManager::openGroup() {
    open_.emplace_back();
    post(didOpenUndoGroupNotification);
}

void UndoManager::openEventGroup() {
    openGroup();
    openedByEvent_ = true;
    scheduleTurnEnd();
}

void UndoManager::closeTopLevel() {
    post(willCloseUndoGroupNotification);
    Group group = std::move(open_.back());
    open_.pop_back();
    openedByEvent_ = false;
    if (!group.actions.empty()) {
        push(undoStack_, std::move(group));
        post(didCloseUndoGroupNotification);
    }
}

void UndoManager::scheduleTurnEnd() {
    if (turnEndPending_) {
        return;
    }
    turnEndPending_ = true;
    EventLoopTurn::afterCurrentTurn([weak = std::weak_ptr<UndoManager*>(self_)] {
        if (const auto self = weak.lock()) {
            (*self)->endTurn();
        }
    });
}

void UndoManager::endTurn() {
    turnEndPending_ = false;
    // A group still open inside it (a drag) keeps the event's group open; its
    // end schedules the next look.
    if (openedByEvent_ && open_.size() == 1) {
        closeTopLevel();
    }
}

void UndoManager::push(std::vector<Group>& stack, Group group) {
    stack.push_back(std::move(group));
    if (&stack == &undoStack_ && levelsOfUndo_ > 0 && stack.size() > levelsOfUndo_) {
        stack.erase(stack.begin(), stack.end() - static_cast<std::ptrdiff_t>(levelsOfUndo_));
    }
}

void UndoManager::setLevelsOfUndo(std::size_t levels) {
    levelsOfUndo_ = levels;
    if (levels > 0 && undoStack_.size() > levels) {
        undoStack_.erase(undoStack_.begin(),
                         undoStack_.end() - static_cast<std::ptrdiff_t>(levels));
    }
}

void UndoManager::registerUndoAction(const std::shared_ptr<void>& target,
                                     std::function<void(void*)> handler) {
    Action action{target, std::move(handler)};
    if (state_ != State::idle) {
        collecting_.actions.push_back(std::move(action));
        return;
    }
    if (open_.empty()) {
        if (!groupsByEvent_) {
            fatalError("An undo action was registered outside any group");
        }
        openEventGroup();
    }
    open_.back().actions.push_back(std::move(action));
    redoStack_.clear();
}

bool UndoManager::canUndo() const {
    if (state_ != State::idle || open_.size() > 1) {
        return false;
    }
    return !undoStack_.empty() || (open_.size() == 1 && !open_.front().actions.empty());
}

bool UndoManager::canRedo() const {
    return state_ == State::idle && open_.size() <= 1 && !redoStack_.empty();
}

void UndoManager::undo() {
    if (state_ != State::idle || open_.size() > 1) {
        return;
    }
    if (open_.size() == 1) {
        closeTopLevel();
    }
    if (undoStack_.empty()) {
        return;
    }
    post(willUndoChangeNotification);
    Group group = std::move(undoStack_.back());
    undoStack_.pop_back();
    run(std::move(group), State::undoing, redoStack_);
    post(didUndoChangeNotification);
}

void UndoManager::redo() {
    if (state_ != State::idle || open_.size() > 1) {
        return;
    }
    if (open_.size() == 1) {
        closeTopLevel();
    }
    if (redoStack_.empty()) {
        return;
    }
    post(willRedoChangeNotification);
    Group group = std::move(redoStack_.back());
    redoStack_.pop_back();
    run(std::move(group), State::redoing, undoStack_);
    post(didRedoChangeNotification);
}

void UndoManager::run(Group group, State state, std::vector<Group>& destination) {
    state_ = state;
    collecting_ = Group{{}, group.actionName};
    collectingDepth_ = 0;
    struct Restore {
        UndoManager& manager;
        ~Restore() { manager.state_ = State::idle; }
    } restore{*this};
    for (auto& action : std::views::reverse(group.actions)) {
        // An entry whose target is gone does nothing.
        if (const auto target = action.target.lock()) {
            action.handler(target.get());
        }
    }
    state_ = State::idle;
    Group made = std::move(collecting_);
    collecting_ = Group{};
    if (!made.actions.empty()) {
        push(destination, std::move(made));
    }
}

UndoManager::Group* UndoManager::namedGroup() {
    if (state_ != State::idle) {
        return &collecting_;
    }
    if (!open_.empty()) {
        return &open_.front();
    }
    if (!undoStack_.empty()) {
        return &undoStack_.back();
    }
    return nullptr;
}

void UndoManager::setActionName(const std::string& name) {
    if (Group* group = namedGroup()) {
        group->actionName = name;
    }
}

std::string UndoManager::undoActionName() const {
    if (open_.size() == 1 && !open_.front().actions.empty()) {
        return open_.front().actionName;
    }
    return undoStack_.empty() ? std::string() : undoStack_.back().actionName;
}

std::string UndoManager::redoActionName() const {
    return redoStack_.empty() ? std::string() : redoStack_.back().actionName;
}

std::string UndoManager::undoMenuTitle(const std::string& actionName) {
    return actionName.empty() ? "Undo" : "Undo " + actionName;
}

std::string UndoManager::redoMenuTitle(const std::string& actionName) {
    return actionName.empty() ? "Redo" : "Redo " + actionName;
}

std::string UndoManager::undoMenuItemTitle() const {
    return undoMenuTitle(undoActionName());
}

std::string UndoManager::redoMenuItemTitle() const {
    return redoMenuTitle(redoActionName());
}

void UndoManager::removeAllActions() {
    undoStack_.clear();
    redoStack_.clear();
    // Open groups stay open so that their ends still balance.
    for (auto& group : open_) {
        group.actions.clear();
    }
    collecting_.actions.clear();
}

void UndoManager::removeAllActionsOf(const std::shared_ptr<void>& target) {
    const auto strip = [&](Group& group) {
        std::erase_if(group.actions,
                      [&](const Action& action) { return sameOwner(action.target, target); });
    };
    for (auto* stack : {&undoStack_, &redoStack_}) {
        std::ranges::for_each(*stack, strip);
        std::erase_if(*stack, [](const Group& group) { return group.actions.empty(); });
    }
    std::ranges::for_each(open_, strip);
    strip(collecting_);
}

void UndoManager::post(const char* name) {
    NotificationCenter::defaultCenter().post(name, this);
}

} // namespace velmora
