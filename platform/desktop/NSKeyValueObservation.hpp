#pragma once

#include <memory>
#include <utility>

namespace velmora {

// What an observation asks to be told: `initial` calls the handler once at
// registration with the current value; `newValue` and `oldValue` fill the change.
enum class NSKeyValueObservingOptions : unsigned {
    none = 0,
    newValue = 1,
    oldValue = 2,
    initial = 4,
};

constexpr NSKeyValueObservingOptions operator|(NSKeyValueObservingOptions a,
                                               NSKeyValueObservingOptions b) {
    return static_cast<NSKeyValueObservingOptions>(static_cast<unsigned>(a) |
                                                   static_cast<unsigned>(b));
}

constexpr bool contains(NSKeyValueObservingOptions set, NSKeyValueObservingOptions option) {
    return (static_cast<unsigned>(set) & static_cast<unsigned>(option)) != 0;
}

// Keeps an observation alive: the handler is called until `invalidate()` or
// until the last copy of the token goes.
class NSKeyValueObservation {
public:
    NSKeyValueObservation() = default;
    explicit NSKeyValueObservation(std::shared_ptr<void> registration)
        : registration_(std::move(registration)) {}

    void invalidate() { registration_.reset(); }
    bool isValid() const { return registration_ != nullptr; }

private:
    std::shared_ptr<void> registration_;
};

} // namespace velmora
