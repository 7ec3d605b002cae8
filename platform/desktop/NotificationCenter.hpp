#pragma once

#include "desktop/Notification.hpp"
#include "foundation/DispatchQueue.hpp"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Delivers notifications to the blocks registered for their name and sender.
// An observation lasts until it is removed or its token is released, so a block
// never outlives the owner that holds the token. Safe to use from any thread.
class NotificationCenter {
public:
    using Block = std::function<void(const Notification&)>;

    class Observer;
    using ObserverToken = std::shared_ptr<Observer>;

    static NotificationCenter& defaultCenter();

    // An empty `name` matches every name, a null `object` every sender. Without a
    // queue the block runs on the posting thread. With the main queue it runs at
    // once when posted on the main thread, else later on the main queue (never
    // waiting, so a poster blocking the main thread cannot dead-lock).
    [[nodiscard]] ObserverToken addObserver(std::string name, const void* object,
                                            std::optional<DispatchQueue> queue, Block block);
    void removeObserver(const ObserverToken& token);

    // Delivers to the observers registered when the call began, in the order
    // they were added.
    void post(const Notification& notification);
    void post(std::string name, const void* object = nullptr, Notification::UserInfo userInfo = {});

private:
    std::mutex mutex_;
    std::vector<std::weak_ptr<Observer>> observers_;
};

class NotificationCenter::Observer : public std::enable_shared_from_this<Observer> {
public:
    Observer(std::string name, const void* object, std::optional<DispatchQueue> queue, Block block)
        : name_(std::move(name)), object_(object), queue_(std::move(queue)),
          block_(std::move(block)) {}

    bool matches(const Notification& notification) const;
    void deliver(const Notification& notification);
    void cancel();

private:
    void run(const Notification& notification);

    std::string name_;
    const void* object_;
    std::optional<DispatchQueue> queue_;
    std::mutex mutex_;
    Block block_;
};

} // namespace velmora
