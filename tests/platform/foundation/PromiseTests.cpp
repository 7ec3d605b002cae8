#include "foundation/Promise.hpp"
#include "foundation/Thread.hpp"

#include <atomic>
#include <cstdint>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace velmora;
using namespace std::chrono_literals;

using Data = std::vector<std::uint8_t>;

TEST(Promise, FulfilledOnABackgroundQueueAndAwaited) {
    std::atomic<bool> offMain{false};
    Promise<Data> promise(DispatchQueue::global(), [&](auto fulfill, auto) {
        offMain = !Thread::isMainThread();
        std::this_thread::sleep_for(10ms);
        fulfill(Data{1, 2, 3});
    });
    EXPECT_EQ(await(promise), (Data{1, 2, 3}));
    EXPECT_TRUE(offMain);
    EXPECT_TRUE(promise.isFulfilled());
    EXPECT_FALSE(promise.isPending());
    // Awaiting again, or through a copy, gives the same value.
    const Promise<Data> copy = promise;
    EXPECT_EQ(copy.await(), (Data{1, 2, 3}));
}

TEST(Promise, RejectionAndThrownErrorsReachTheAwaiter) {
    Promise<int> rejected(DispatchQueue::global(), [](auto, auto reject) {
        reject(std::make_exception_ptr(std::invalid_argument("cannot encode")));
    });
    EXPECT_THROW(rejected.await(), std::invalid_argument);
    EXPECT_TRUE(rejected.isRejected());

    Promise<int> thrown(DispatchQueue::global(),
                        [](auto, auto) { throw std::out_of_range("region"); });
    EXPECT_THROW(thrown.await(), std::out_of_range);
}

TEST(Promise, OnlyTheFirstSettlementCounts) {
    Promise<int> promise(DispatchQueue::global(), [](auto fulfill, auto reject) {
        fulfill(1);
        fulfill(2);
        reject(std::make_exception_ptr(std::runtime_error("late")));
        throw std::runtime_error("later");
    });
    EXPECT_EQ(promise.await(), 1);
}

TEST(Promise, SettlingLaterFromElsewhereWorks) {
    DispatchQueue other("encoder");
    Promise<int> promise(DispatchQueue::global(), [other](auto fulfill, auto) {
        other.asyncAfter(10ms, [fulfill] { fulfill(42); });
    });
    EXPECT_EQ(promise.await(), 42);
}

TEST(Promise, WorkThatDropsBothFunctionsBreaksThePromiseInsteadOfHanging) {
    Promise<int> promise(DispatchQueue::global(), [](auto, auto) {});
    EXPECT_THROW(promise.await(), BrokenPromiseError);
}

TEST(Promise, SerialQueueRunsPromisesInOrder) {
    DispatchQueue queue("snapshots");
    std::vector<int> order;
    Promise<int> first(queue, [&](auto fulfill, auto) {
        std::this_thread::sleep_for(5ms);
        order.push_back(1);
        fulfill(1);
    });
    Promise<int> second(queue, [&](auto fulfill, auto) {
        order.push_back(2);
        fulfill(2);
    });
    EXPECT_EQ(second.await() + first.await(), 3);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}
