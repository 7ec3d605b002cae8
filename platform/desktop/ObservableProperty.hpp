#pragma once

#include "desktop/NSKeyValueObservation.hpp"

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace velmora {

// A property that observers can watch, as key-value observation does: every
// store notifies, synchronously and after the value changed, each observer that
// was registered when the store began, in registration order. Main thread only.
template <class T> class ObservableProperty {
public:
    struct Change {
        std::optional<T> oldValue;
        std::optional<T> newValue;
    };
    using Handler = std::function<void(const Change&)>;

    ObservableProperty() = default;
    explicit ObservableProperty(T value) : value_(std::move(value)) {}
    ObservableProperty(const ObservableProperty&) = delete;
    ObservableProperty& operator=(const ObservableProperty&) = delete;

    const T& get() const { return value_; }

    // Notifies even when the value stays equal, as the platform's setters do.
    void set(T value) {
        std::erase_if(observers_, [](const auto& weak) { return weak.expired(); });
        std::optional<T> old;
        if (!observers_.empty()) {
            old = value_;
        }
        value_ = std::move(value);
        // A handler may end another observation: it is then not told.
        const auto current = observers_;
        for (const auto& weak : current) {
            const auto registration = weak.lock();
            if (!registration) {
                continue;
            }
            Change change;
            if (contains(registration->options, NSKeyValueObservingOptions::oldValue)) {
                change.oldValue = old;
            }
            if (contains(registration->options, NSKeyValueObservingOptions::newValue)) {
                change.newValue = value_;
            }
            registration->handler(change);
        }
    }

    [[nodiscard]] NSKeyValueObservation observe(NSKeyValueObservingOptions options,
                                                Handler handler) {
        auto registration =
            std::make_shared<Registration>(Registration{options, std::move(handler)});
        observers_.push_back(registration);
        if (contains(options, NSKeyValueObservingOptions::initial)) {
            Change change;
            if (contains(options, NSKeyValueObservingOptions::newValue)) {
                change.newValue = value_;
            }
            registration->handler(change);
        }
        return NSKeyValueObservation(std::move(registration));
    }

private:
    struct Registration {
        NSKeyValueObservingOptions options;
        Handler handler;
    };

    T value_{};
    std::vector<std::weak_ptr<Registration>> observers_;
};

} // namespace velmora
