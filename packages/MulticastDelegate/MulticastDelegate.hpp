#pragma once

#include <algorithm>
#include <concepts>
#include <memory>
#include <utility>
#include <vector>

namespace velmora {

// The observer list of a model object. Members are held weakly (or strongly,
// by option) and compared by identity: the object's address together with its
// ownership, so a new object that happens to live at a released member's
// address is a different member. A pass calls a snapshot of the members taken
// at its start, each held strongly until the pass ends: members added during a
// pass are first called in the next one, and a member released during a pass
// stays alive until its call is done. Members are called in no particular
// order. Not safe for concurrent use.
//
// The platform's `|>` is not a C++ operator; `list | callback` takes its place.
template <typename T> class MulticastDelegate {
public:
    enum class Options { weakMemory, strongMemory };

    explicit MulticastDelegate(bool strongReferences = false) : strong_(strongReferences) {}
    explicit MulticastDelegate(Options options) : strong_(options == Options::strongMemory) {}

    MulticastDelegate(const MulticastDelegate&) = delete;
    MulticastDelegate& operator=(const MulticastDelegate&) = delete;

    // True when no live member remains.
    bool isEmpty() const {
        return std::none_of(members_.begin(), members_.end(),
                            [](const Member& m) { return m.isAlive(); });
    }

    void addDelegate(const std::shared_ptr<T>& delegate) {
        if (!delegate) {
            return;
        }
        dropReleased();
        if (find(delegate) == members_.end()) {
            members_.push_back(Member(delegate, strong_));
        }
    }

    void removeDelegate(const std::shared_ptr<T>& delegate) {
        if (const auto it = find(delegate); it != members_.end()) {
            members_.erase(it);
        }
    }

    bool containsDelegate(const std::shared_ptr<T>& delegate) const {
        return find(delegate) != members_.end();
    }

    template <typename F>
    requires std::invocable<F&, T&>
    void invokeDelegates(F&& callback) {
        dropReleased();
        std::vector<std::shared_ptr<T>> snapshot;
        snapshot.reserve(members_.size());
        for (const Member& m : members_) {
            if (auto object = m.lock()) {
                snapshot.push_back(std::move(object));
            }
        }
        // The list itself may be gone once a callback returns (its owner may be
        // released by one); only the snapshot is touched from here on.
        for (auto& object : snapshot) {
            callback(*object);
            object.reset();
        }
    }

    friend MulticastDelegate& operator+=(MulticastDelegate& list, const std::shared_ptr<T>& d) {
        list.addDelegate(d);
        return list;
    }
    friend MulticastDelegate& operator-=(MulticastDelegate& list, const std::shared_ptr<T>& d) {
        list.removeDelegate(d);
        return list;
    }
    template <typename F>
    requires std::invocable<F&, T&>
    friend void operator|(MulticastDelegate& list, F&& callback) {
        list.invokeDelegates(std::forward<F>(callback));
    }

private:
    class Member {
    public:
        Member(const std::shared_ptr<T>& object, bool strong)
            : address_(object.get()), weak_(object), strong_(strong ? object : nullptr) {}

        bool isAlive() const { return !weak_.expired(); }
        std::shared_ptr<T> lock() const { return strong_ ? strong_ : weak_.lock(); }
        // The same ownership and the same address: a dead member never matches,
        // since a live object cannot share a released object's ownership.
        bool isIdentical(const std::shared_ptr<T>& object) const {
            return address_ == object.get() && !weak_.owner_before(object) &&
                   !object.owner_before(weak_) && isAlive();
        }

    private:
        const T* address_;
        std::weak_ptr<T> weak_;
        std::shared_ptr<T> strong_;
    };

    auto find(const std::shared_ptr<T>& object) const {
        return std::find_if(members_.begin(), members_.end(),
                            [&](const Member& m) { return object && m.isIdentical(object); });
    }
    auto find(const std::shared_ptr<T>& object) {
        return std::find_if(members_.begin(), members_.end(),
                            [&](const Member& m) { return object && m.isIdentical(object); });
    }

    void dropReleased() {
        std::erase_if(members_, [](const Member& m) { return !m.isAlive(); });
    }

    bool strong_;
    std::vector<Member> members_;
};

} // namespace velmora
