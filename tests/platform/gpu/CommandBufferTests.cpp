#include "GPUTestSupport.hpp"
#include "gpu/MTLError.hpp"
#include "gpu/cpu/CPUDevice.hpp"
#include "gpu/cpu/Timeline.hpp"
#include "gpu/cpu/Workers.hpp"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <thread>

using namespace velmora;
using Kind = MTLCommandTraceEntry::Kind;

namespace {

class CommandBufferTest : public ::testing::Test {
protected:
    void SetUp() override { test::device()->setSynchronousCommandExecution(false); }
    void TearDown() override { test::device()->setSynchronousCommandExecution(false); }
};

TEST_F(CommandBufferTest, CompletedHandlersRunInCommitOrderAcrossQueues) {
    auto a = test::device()->newCommandQueue();
    auto b = test::device()->newCommandQueue();
    std::mutex mutex;
    std::vector<int> order;
    std::vector<std::shared_ptr<MTLCommandBuffer>> buffers;
    for (int i = 0; i < 12; ++i) {
        auto cb = (i % 3 == 0 ? a : b)->commandBuffer();
        // Uneven amounts of work, so a per-queue order would show.
        cb->encodeHostCommand(
            "work", [i] { std::this_thread::sleep_for(std::chrono::microseconds((12 - i) * 200)); },
            {});
        cb->addCompletedHandler([&, i](MTLCommandBuffer& done) {
            EXPECT_EQ(done.status(), MTLCommandBufferStatus::completed);
            std::lock_guard lock(mutex);
            order.push_back(i);
        });
        cb->commit();
        buffers.push_back(cb);
    }
    buffers.back()->waitUntilCompleted();
    std::lock_guard lock(mutex);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
}

TEST_F(CommandBufferTest, StatusFollowsTheBufferAndHandlersRunOffTheCommittingThread) {
    auto cb = test::device()->newCommandQueue()->commandBuffer();
    EXPECT_EQ(cb->status(), MTLCommandBufferStatus::notEnqueued);
    std::promise<void> release;
    auto released = release.get_future().share();
    std::thread::id handlerThread;
    cb->encodeHostCommand("wait", [released] { released.wait(); }, {});
    cb->addScheduledHandler([](MTLCommandBuffer&) {});
    cb->addCompletedHandler([&](MTLCommandBuffer&) { handlerThread = std::this_thread::get_id(); });
    cb->commit();
    cb->waitUntilScheduled();
    EXPECT_EQ(cb->status(), MTLCommandBufferStatus::scheduled);
    release.set_value();
    cb->waitUntilCompleted();
    EXPECT_EQ(cb->status(), MTLCommandBufferStatus::completed);
    EXPECT_NE(handlerThread, std::this_thread::get_id());
    EXPECT_FALSE(cb->error().has_value());
}

TEST_F(CommandBufferTest, SynchronousModeRunsEverythingInsideCommit) {
    test::device()->setSynchronousCommandExecution(true);
    auto cb = test::device()->newCommandQueue()->commandBuffer();
    std::vector<std::string> events;
    cb->encodeHostCommand("work", [&] { events.push_back("command"); }, {});
    cb->addScheduledHandler([&](MTLCommandBuffer&) { events.push_back("scheduled"); });
    cb->addCompletedHandler([&](MTLCommandBuffer&) { events.push_back("completed"); });
    cb->commit();
    EXPECT_EQ(events, (std::vector<std::string>{"scheduled", "command", "completed"}));
    EXPECT_EQ(cb->status(), MTLCommandBufferStatus::completed);
    cb->waitUntilCompleted();
}

TEST_F(CommandBufferTest, AFailingCommandReportsAnErrorAndSkipsTheRest) {
    test::device()->setSynchronousCommandExecution(true);
    auto cb = test::device()->newCommandQueue()->commandBuffer();
    bool laterRan = false;
    MTLCommandBufferStatus seen = MTLCommandBufferStatus::notEnqueued;
    cb->encodeHostCommand("fails", [] { throw MTLError("render failed"); }, {});
    cb->encodeHostCommand("later", [&] { laterRan = true; }, {});
    cb->addCompletedHandler([&](MTLCommandBuffer& done) { seen = done.status(); });
    cb->commit();
    cb->waitUntilCompleted();
    EXPECT_EQ(cb->status(), MTLCommandBufferStatus::error);
    EXPECT_EQ(seen, MTLCommandBufferStatus::error);
    EXPECT_EQ(cb->error(), "render failed");
    EXPECT_FALSE(laterRan);
}

TEST_F(CommandBufferTest, LabelsAndDebugGroupsAreTraced) {
    auto cb = test::device()->newCommandQueue()->commandBuffer();
    cb->setLabel("Compute CB #1");
    cb->pushDebugGroup("Render CIImage");
    auto blit = cb->blitCommandEncoder();
    EXPECT_FALSE(blit->label().has_value());
    blit->setLabel("Copy");
    blit->endEncoding();
    cb->popDebugGroup();
    auto compute = cb->computeCommandEncoder();
    compute->endEncoding();
    EXPECT_EQ(cb->label(), "Compute CB #1");
    const auto trace = cb->debugTrace();
    ASSERT_EQ(trace.size(), 4u);
    EXPECT_EQ(trace[0], (MTLCommandTraceEntry{Kind::pushDebugGroup, "Render CIImage"}));
    EXPECT_EQ(trace[1], (MTLCommandTraceEntry{Kind::blitEncoder, "Copy"}));
    EXPECT_EQ(trace[2], (MTLCommandTraceEntry{Kind::popDebugGroup, std::nullopt}));
    EXPECT_EQ(trace[3], (MTLCommandTraceEntry{Kind::computeEncoder, std::nullopt}));
    cb->commit();
    cb->waitUntilCompleted();
}

TEST_F(CommandBufferTest, CPUWriteWaitsForQueuedCommandsThatUseTheTexture) {
    auto transfer = test::makeTexture(4, 4, MTLPixelFormat::rgba8Unorm, MTLStorageMode::managed);
    auto target = test::makeTexture(4, 4, MTLPixelFormat::rgba8Unorm, MTLStorageMode::managed);
    const auto first = test::pattern(64, 1);
    const auto second = test::pattern(64, 2);
    test::writeAll(*transfer, first);

    std::promise<void> release;
    auto released = release.get_future().share();
    auto cb = test::device()->newCommandQueue()->commandBuffer();
    // A slow GPU: the copy stays queued until the test lets it run.
    cb->encodeHostCommand("stall", [released] { released.wait(); }, {});
    auto blit = cb->blitCommandEncoder();
    blit->copyFromTexture(transfer, target);
    blit->endEncoding();
    cb->commit();

    std::atomic<bool> written = false;
    std::thread writer([&] {
        test::writeAll(*transfer, second);
        written = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(written.load());
    release.set_value();
    writer.join();
    cb->waitUntilCompleted();
    EXPECT_EQ(test::readAll(*target), first);
    EXPECT_EQ(test::readAll(*transfer), second);
}

TEST_F(CommandBufferTest, AReleasedTextureStaysAliveForAPendingBuffer) {
    auto target = test::makeTexture(2, 2);
    std::promise<void> release;
    auto released = release.get_future().share();
    auto cb = test::device()->newCommandQueue()->commandBuffer();
    cb->encodeHostCommand("stall", [released] { released.wait(); }, {});
    {
        auto source = test::makeTexture(2, 2);
        test::writeAll(*source, test::pattern(16, 3));
        auto blit = cb->blitCommandEncoder();
        blit->copyFromTexture(source, target);
        blit->endEncoding();
    }
    cb->commit();
    release.set_value();
    cb->waitUntilCompleted();
    EXPECT_EQ(test::readAll(*target), test::pattern(16, 3));
}

class CommandBufferDeathTest : public CommandBufferTest {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        CommandBufferTest::SetUp();
    }
};

TEST_F(CommandBufferDeathTest, MisuseStopsTheProgram) {
    auto queue = test::device()->newCommandQueue();
    EXPECT_DEATH(
        {
            auto cb = queue->commandBuffer();
            auto e = cb->blitCommandEncoder();
            cb->computeCommandEncoder();
        },
        "An encoder is still open");
    EXPECT_DEATH(
        {
            auto cb = queue->commandBuffer();
            cb->commit();
            cb->commit();
        },
        "commit after the command buffer was committed");
    EXPECT_DEATH(queue->commandBuffer()->popDebugGroup(), "popDebugGroup without a pushed group");
    EXPECT_DEATH(queue->commandBuffer()->waitUntilCompleted(), "before commit");
}

TEST_F(CommandBufferDeathTest, WorkLeftOnTheTimelineFinishesBeforeTheProgramExits) {
    EXPECT_EXIT(
        {
            auto& device = static_cast<cpu::CPUDevice&>(*test::device());
            device.timeline().submit([] {
                // Still running once exit has begun tearing the program down.
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                std::atomic<int64_t> rows = 0;
                cpu::parallelRows(0, 1024, [&](int64_t y0, int64_t y1) { rows += y1 - y0; });
                std::fprintf(stderr, "finished %lld rows\n", static_cast<long long>(rows.load()));
            });
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "finished 1024 rows");
}

} // namespace
