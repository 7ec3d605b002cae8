#include "desktop/QtMainQueue.hpp"
#include "foundation/DispatchQueue.hpp"
#include "foundation/Timer.hpp"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using namespace velmora;
using namespace std::chrono_literals;

namespace {

class QtMainQueueTest : public ::testing::Test {
protected:
    void SetUp() override { QtMainQueue::bind(); }
    void TearDown() override { QtMainQueue::unbind(); }

    // Runs Qt's loop until `loop.quit()` or a generous limit.
    static void exec(QEventLoop& loop) {
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
    }
};

} // namespace

TEST_F(QtMainQueueTest, ItemsFromAnyThreadRunInQtsLoopInOrder) {
    std::vector<std::string> order;
    QEventLoop loop;
    DispatchQueue::main().async([&] { order.push_back("first"); });
    std::thread worker([&] {
        DispatchQueue::main().async([&] { order.push_back("from worker"); });
        DispatchQueue::main().asyncAfter(10ms, [&] {
            order.push_back("delayed");
            loop.quit();
        });
    });
    worker.join();
    exec(loop);
    EXPECT_EQ(order, (std::vector<std::string>{"first", "from worker", "delayed"}));
}

TEST_F(QtMainQueueTest, ItemsAndTimersRunInsideAModalLoopStartedByAnItem) {
    std::vector<std::string> order;
    QEventLoop outer;
    DispatchQueue::main().async([&] {
        QEventLoop modal;
        auto timer = Timer::scheduledTimer(10ms, false, [&](Timer&) {
            order.push_back("timer");
            modal.quit();
        });
        order.push_back("modal begins");
        exec(modal);
        order.push_back("modal ended");
        outer.quit();
    });
    // Queued behind the item that blocks in its modal loop.
    DispatchQueue::main().async([&] { order.push_back("queued behind"); });
    exec(outer);
    EXPECT_EQ(order,
              (std::vector<std::string>{"modal begins", "queued behind", "timer", "modal ended"}));
}

TEST_F(QtMainQueueTest, SyncFromAWorkerIsServedByTheLoop) {
    std::atomic<int> answer = 0;
    QEventLoop loop;
    std::thread worker([&] {
        answer = DispatchQueue::main().sync([] { return 42; });
        DispatchQueue::main().async([&] { loop.quit(); });
    });
    exec(loop);
    worker.join();
    EXPECT_EQ(answer, 42);
}

TEST_F(QtMainQueueTest, AnEmptyQueueLeavesTheLoopAsleep) {
    // Counts the timer events Qt delivers anywhere while the loop idles.
    struct TimerCount : QObject {
        bool eventFilter(QObject*, QEvent* event) override {
            count += event->type() == QEvent::Timer ? 1 : 0;
            return false;
        }
        int count = 0;
    } timers;
    QEventLoop loop;
    DispatchQueue::main().async([&] { loop.quit(); });
    exec(loop);
    QCoreApplication::instance()->installEventFilter(&timers);
    QEventLoop idle;
    QTimer::singleShot(50, &idle, &QEventLoop::quit);
    idle.exec();
    QCoreApplication::instance()->removeEventFilter(&timers);
    // The quitting timer and perhaps exec()'s spare one, not a spinning pump.
    EXPECT_LE(timers.count, 3);
}
