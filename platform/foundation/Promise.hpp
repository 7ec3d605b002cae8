#pragma once

#include "foundation/DispatchQueue.hpp"

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace velmora {

// Rejects a promise whose work let go of both its fulfil and reject functions
// without calling either, so that `await` does not wait forever.
class BrokenPromiseError : public std::logic_error {
public:
    BrokenPromiseError() : std::logic_error("The promise's work ended without fulfilling it") {}
};

// A value computed asynchronously on a queue, awaited by blocking. The work gets
// a fulfil and a reject function; the first call of either settles the promise,
// later ones are ignored, and an exception escaping the work rejects it.
// Copies share one result.
template <class T> class Promise {
public:
    using Fulfill = std::function<void(T)>;
    using Reject = std::function<void(std::exception_ptr)>;
    using Work = std::function<void(Fulfill, Reject)>;

    Promise(const DispatchQueue& queue, Work work) : state_(std::make_shared<State>()) {
        auto guard = std::make_shared<Guard>(state_);
        queue.async([guard = std::move(guard), work = std::move(work)]() mutable {
            Fulfill fulfill = [guard](T value) { guard->state->settle(std::move(value), nullptr); };
            Reject reject = [guard](std::exception_ptr error) {
                guard->state->settle(std::nullopt,
                                     error ? error : std::make_exception_ptr(BrokenPromiseError()));
            };
            try {
                work(std::move(fulfill), std::move(reject));
            } catch (...) {
                guard->state->settle(std::nullopt, std::current_exception());
            }
            // Kept until here so that a throwing work is not taken for a broken one.
            guard.reset();
        });
    }

    // Blocks until the promise settles; gives the value or throws the rejection.
    T await() const {
        std::unique_lock lock(state_->mutex);
        state_->settled.wait(lock, [&] { return state_->value || state_->error; });
        if (state_->error) {
            std::rethrow_exception(state_->error);
        }
        return *state_->value;
    }

    bool isPending() const {
        const std::lock_guard lock(state_->mutex);
        return !state_->value && !state_->error;
    }
    bool isFulfilled() const {
        const std::lock_guard lock(state_->mutex);
        return state_->value.has_value();
    }
    bool isRejected() const {
        const std::lock_guard lock(state_->mutex);
        return static_cast<bool>(state_->error);
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable settled;
        std::optional<T> value;
        std::exception_ptr error;

        void settle(std::optional<T> v, std::exception_ptr e) {
            {
                const std::lock_guard lock(mutex);
                if (value || error) {
                    return;
                }
                if (v) {
                    value = std::move(v);
                } else {
                    error = e;
                }
            }
            settled.notify_all();
        }
    };

    // Held by the fulfil and reject functions only: when the last of them goes,
    // an unsettled promise is broken.
    struct Guard {
        explicit Guard(std::shared_ptr<State> s) : state(std::move(s)) {}
        ~Guard() { state->settle(std::nullopt, std::make_exception_ptr(BrokenPromiseError())); }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
        std::shared_ptr<State> state;
    };

    std::shared_ptr<State> state_;
};

template <class T> T await(const Promise<T>& promise) {
    return promise.await();
}

} // namespace velmora
