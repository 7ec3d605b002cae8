#include "desktop/NotificationCenter.hpp"
#include "desktop/ObservableProperty.hpp"
#include "foundation/MainQueue.hpp"

#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using namespace velmora;

TEST(NotificationCenter, ObserversMatchByNameAndSenderUntilRemovedOrReleased) {
    NotificationCenter center;
    int window = 0;
    int other = 0;
    std::vector<std::string> log;
    auto byName =
        center.addObserver("NSWindowDidBecomeKeyNotification", &window, std::nullopt,
                           [&](const Notification& n) { log.push_back("key " + n.name); });
    auto any = center.addObserver("", nullptr, std::nullopt,
                                  [&](const Notification& n) { log.push_back("any " + n.name); });
    center.post("NSWindowDidBecomeKeyNotification", &window);
    center.post("NSWindowDidBecomeKeyNotification", &other);
    center.removeObserver(byName);
    center.post("NSWindowDidBecomeKeyNotification", &window);
    any.reset();
    center.post("mainWindowChangedNotification");
    EXPECT_EQ(log, (std::vector<std::string>{"key NSWindowDidBecomeKeyNotification",
                                             "any NSWindowDidBecomeKeyNotification",
                                             "any NSWindowDidBecomeKeyNotification",
                                             "any NSWindowDidBecomeKeyNotification"}));
}

TEST(NotificationCenter, MainQueueObserversRunAtOnceOnMainAndLaterFromAWorker) {
    NotificationCenter center;
    std::vector<std::string> log;
    auto token =
        center.addObserver("changed", nullptr, DispatchQueue::main(), [&](const Notification& n) {
            log.push_back(std::any_cast<std::string>(n.userInfo.at("from")));
        });
    center.post("changed", nullptr, {{"from", std::string("main")}});
    EXPECT_EQ(log, std::vector<std::string>{"main"});
    std::thread([&] { center.post("changed", nullptr, {{"from", std::string("worker")}}); }).join();
    EXPECT_EQ(log.size(), 1u);
    MainQueue::runUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string>{"main", "worker"}));

    // Removed before the main queue got to it: not delivered.
    std::thread([&] { center.post("changed", nullptr, {{"from", std::string("late")}}); }).join();
    center.removeObserver(token);
    MainQueue::runUntilIdle();
    EXPECT_EQ(log.size(), 2u);
}

TEST(ObservableProperty, InitialAndNewValuesAfterTheSetterUntilInvalidated) {
    ObservableProperty<int> frontDocument(1);
    std::vector<std::string> log;
    auto initial = frontDocument.observe(
        NSKeyValueObservingOptions::initial | NSKeyValueObservingOptions::newValue,
        [&](const auto& change) {
            log.push_back("new " + std::to_string(change.newValue.value()) + " stored " +
                          std::to_string(frontDocument.get()));
        });
    auto old = frontDocument.observe(NSKeyValueObservingOptions::oldValue, [&](const auto& change) {
        EXPECT_FALSE(change.newValue);
        log.push_back("old " + std::to_string(*change.oldValue));
    });
    frontDocument.set(2);
    frontDocument.set(2); // equal values notify too
    initial.invalidate();
    frontDocument.set(3);
    EXPECT_EQ(log, (std::vector<std::string>{"new 1 stored 1", "new 2 stored 2", "old 1",
                                             "new 2 stored 2", "old 2", "old 2"}));
}
