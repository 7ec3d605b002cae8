#include "desktop/NotificationCenter.hpp"

#include "foundation/Thread.hpp"

#include <algorithm>

namespace velmora {

NotificationCenter& NotificationCenter::defaultCenter() {
    // Leaked: workers may post while the process exits.
    static auto* shared = new NotificationCenter;
    return *shared;
}

NotificationCenter::ObserverToken
NotificationCenter::addObserver(std::string name, const void* object,
                                std::optional<DispatchQueue> queue, Block block) {
    auto observer =
        std::make_shared<Observer>(std::move(name), object, std::move(queue), std::move(block));
    const std::lock_guard lock(mutex_);
    std::erase_if(observers_, [](const auto& weak) { return weak.expired(); });
    observers_.push_back(observer);
    return observer;
}

void NotificationCenter::removeObserver(const ObserverToken& token) {
    if (!token) {
        return;
    }
    token->cancel();
    const std::lock_guard lock(mutex_);
    std::erase_if(observers_, [&](const auto& weak) {
        const auto held = weak.lock();
        return !held || held == token;
    });
}

void NotificationCenter::post(const Notification& notification) {
    std::vector<std::shared_ptr<Observer>> targets;
    {
        const std::lock_guard lock(mutex_);
        for (const auto& weak : observers_) {
            if (auto observer = weak.lock(); observer && observer->matches(notification)) {
                targets.push_back(std::move(observer));
            }
        }
    }
    for (const auto& observer : targets) {
        observer->deliver(notification);
    }
}

void NotificationCenter::post(std::string name, const void* object,
                              Notification::UserInfo userInfo) {
    post(Notification{std::move(name), object, std::move(userInfo)});
}

bool NotificationCenter::Observer::matches(const Notification& notification) const {
    return (name_.empty() || name_ == notification.name) &&
           (object_ == nullptr || object_ == notification.object);
}

void NotificationCenter::Observer::deliver(const Notification& notification) {
    const bool later = queue_ && !(*queue_ == DispatchQueue::main() && Thread::isMainThread());
    if (later) {
        // The observation may be removed before the queue gets to it.
        queue_->async([weak = weak_from_this(), notification] {
            if (const auto self = weak.lock()) {
                self->run(notification);
            }
        });
    } else {
        run(notification);
    }
}

void NotificationCenter::Observer::run(const Notification& notification) {
    Block block;
    {
        const std::lock_guard lock(mutex_);
        block = block_;
    }
    if (block) {
        block(notification);
    }
}

void NotificationCenter::Observer::cancel() {
    Block dropped;
    const std::lock_guard lock(mutex_);
    dropped = std::move(block_);
    block_ = nullptr;
}

} // namespace velmora
