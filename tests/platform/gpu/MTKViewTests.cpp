#include "GPUTestSupport.hpp"
#include "foundation/MainQueue.hpp"
#include "gpu/HeadlessViewHost.hpp"
#include "gpu/MTKView.hpp"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace velmora {
namespace {

// Draws each frame by clearing the current drawable; records what it saw.
class ClearingDelegate : public MTKViewDelegate {
public:
    std::shared_ptr<MTLCommandQueue> queue = test::device()->newCommandQueue();
    std::vector<CGSize> sizeChanges;
    std::vector<CGSize> sizeWhenTold;
    int frames = 0;
    int framesWithoutDrawable = 0;
    std::function<void(MTKView&)> extra;

    void mtkView(MTKView& view, CGSize size) override {
        sizeChanges.push_back(size);
        sizeWhenTold.push_back(view.drawableSize());
    }
    void draw(MTKView& view) override {
        ++frames;
        if (extra) {
            extra(view);
        }
        auto descriptor = view.currentRenderPassDescriptor();
        auto drawable = view.currentDrawable();
        if (!descriptor || drawable == nullptr) {
            ++framesWithoutDrawable;
            return;
        }
        EXPECT_EQ(descriptor->colorAttachments[0].texture, drawable->texture());
        auto buffer = queue->commandBuffer();
        buffer->renderCommandEncoder(*descriptor)->endEncoding();
        buffer->commit();
        drawable->present();
    }
};

// Keeps every drawable it is shown, like a display that never lets go.
class HoardingHost : public MTKViewHost {
public:
    void displayDrawable(std::shared_ptr<CAMetalDrawable> drawable) override {
        std::lock_guard lock(mutex);
        kept.push_back(std::move(drawable));
    }
    std::mutex mutex;
    std::vector<std::shared_ptr<CAMetalDrawable>> kept;
};

class MTKViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::device()->setSynchronousCommandExecution(true);
        view = MTKView::make(test::device());
        view->setPaused(true);
        view->setDelegate(delegate);
        view->setHost(host);
        view->setDrawableSize({4, 3});
    }
    void TearDown() override {
        view = nullptr;
        MainQueue::runUntilIdle();
        test::device()->setSynchronousCommandExecution(false);
    }

    std::shared_ptr<ClearingDelegate> delegate = std::make_shared<ClearingDelegate>();
    std::shared_ptr<HeadlessViewHost> host = std::make_shared<HeadlessViewHost>();
    std::shared_ptr<MTKView> view;
};

TEST_F(MTKViewTest, PresentedFrameHoldsTheClearColourInRGBA) {
    view->setClearColor({1.0, 0.0, 0.2, 1.0});
    view->draw();
    ASSERT_EQ(host->presentedCount(), 1u);
    const auto frame = host->lastFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->pixelsWide(), 4);
    EXPECT_EQ(frame->pixelsHigh(), 3);
    const uint8_t* p = frame->row(2) + 3 * 4;
    EXPECT_EQ((std::vector<int>{p[0], p[1], p[2], p[3]}), (std::vector<int>{255, 0, 51, 255}));
    EXPECT_EQ(view->drawablesInUse(), 0u);
}

TEST_F(MTKViewTest, SetNeedsDisplayDrawsOnceOnTheMainQueueOnlyWhenAllowed) {
    struct Case {
        bool paused, enable;
        int calls;
        int expectedFrames;
    };
    for (const Case c :
         {Case{true, true, 3, 1}, Case{true, false, 1, 0}, Case{false, true, 1, 0}}) {
        delegate->frames = 0;
        view->setEnableSetNeedsDisplay(c.enable);
        view->setPaused(c.paused);
        for (int i = 0; i < c.calls; ++i) {
            view->setNeedsDisplay(true);
        }
        EXPECT_EQ(delegate->frames, 0) << "drawn before the main queue ran";
        view->setPaused(true); // stops the clock before draining
        MainQueue::runUntilIdle();
        EXPECT_EQ(delegate->frames, c.expectedFrames) << c.paused << c.enable;
        EXPECT_FALSE(c.expectedFrames == 1 && view->needsDisplay());
    }
}

TEST_F(MTKViewTest, ExplicitFrameServesAPendingRequest) {
    view->setEnableSetNeedsDisplay(true);
    view->setNeedsDisplay(true);
    view->draw();
    MainQueue::runUntilIdle();
    EXPECT_EQ(delegate->frames, 1);
}

TEST_F(MTKViewTest, DrawableSizeChangeIsToldBeforeItApplies) {
    delegate->sizeChanges.clear();
    delegate->sizeWhenTold.clear();
    view->setDrawableSize({8, 2});
    view->setDrawableSize({8, 2});
    ASSERT_EQ(delegate->sizeChanges.size(), 1u);
    EXPECT_EQ(delegate->sizeChanges[0], (CGSize{8, 2}));
    EXPECT_EQ(delegate->sizeWhenTold[0], (CGSize{4, 3}));
    view->draw();
    ASSERT_NE(host->lastFrame(), nullptr);
    EXPECT_EQ(host->lastFrame()->pixelsWide(), 8);
    EXPECT_EQ(host->lastFrame()->pixelsHigh(), 2);
}

TEST_F(MTKViewTest, EmptyOrAbsurdSizeGivesNoDrawable) {
    for (const CGSize size :
         {CGSize{0, 3}, CGSize{4, 0.5}, CGSize{-4, 3}, CGSize{NAN, 3}, CGSize{1e12, 3}}) {
        view->setDrawableSize(size);
        delegate->framesWithoutDrawable = 0;
        view->draw();
        EXPECT_EQ(delegate->framesWithoutDrawable, 1) << size.width << "x" << size.height;
    }
    EXPECT_EQ(host->presentedCount(), 0u);
}

TEST_F(MTKViewTest, TheSameDrawableServesAWholeFrame) {
    std::shared_ptr<CAMetalDrawable> first, second;
    delegate->extra = [&](MTKView& v) {
        first = v.currentDrawable();
        second = v.currentDrawable();
    };
    view->draw();
    EXPECT_EQ(first, second);
    const auto id = first->drawableID();
    first = second = nullptr;
    view->draw();
    EXPECT_EQ(first->drawableID(), id + 1);
    EXPECT_EQ((host->presentedIDs()), (std::vector<uint64_t>{id, id + 1}));
}

TEST_F(MTKViewTest, RingOfThreeDropsFramesWhileTheHostKeepsThem) {
    auto hoarder = std::make_shared<HoardingHost>();
    view->setHost(hoarder);
    view->setDrawableTimeout(std::chrono::milliseconds(1));
    for (int i = 0; i < 5; ++i) {
        view->draw();
    }
    EXPECT_EQ(hoarder->kept.size(), 3u);
    EXPECT_EQ(delegate->framesWithoutDrawable, 2);
    EXPECT_EQ(view->droppedFrameCount(), 2u);
    EXPECT_EQ(view->drawablesInUse(), 3u);

    hoarder->kept.erase(hoarder->kept.begin());
    view->draw();
    EXPECT_EQ(hoarder->kept.size(), 3u);
    EXPECT_EQ(delegate->framesWithoutDrawable, 2);
}

TEST_F(MTKViewTest, DrawableNotPresentedGoesBackToTheRing) {
    struct Taking : MTKViewDelegate {
        void mtkView(MTKView&, CGSize) override {}
        void draw(MTKView& v) override { EXPECT_NE(v.currentRenderPassDescriptor(), std::nullopt); }
    };
    auto taking = std::make_shared<Taking>();
    view->setDelegate(taking);
    for (int i = 0; i < 5; ++i) {
        view->draw();
        EXPECT_EQ(view->drawablesInUse(), 0u);
    }
    EXPECT_EQ(host->presentedCount(), 0u);
    EXPECT_EQ(view->droppedFrameCount(), 0u);
}

TEST_F(MTKViewTest, PresentingTwiceShowsTheFrameOnce) {
    delegate->extra = [](MTKView& v) {
        auto d = v.currentDrawable();
        d->present();
        EXPECT_TRUE(d->isPresented());
    };
    view->draw();
    EXPECT_EQ(host->presentedCount(), 1u);
}

TEST_F(MTKViewTest, FrameClockRunsOnlyWhileUnpaused) {
    view->setPreferredFramesPerSecond(200);
    const auto runFor = [](int ms) {
        MainQueue::runUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms));
    };
    runFor(60);
    EXPECT_EQ(delegate->frames, 0);
    view->setPaused(false);
    EXPECT_TRUE(
        MainQueue::runUntil([&] { return delegate->frames >= 2; }, std::chrono::seconds(10)));
    view->setPaused(true);
    const int frames = delegate->frames;
    runFor(60);
    EXPECT_EQ(delegate->frames, frames);
}

TEST_F(MTKViewTest, PresentationWaitsForTheFramesWorkOnTheTimeline) {
    test::device()->setSynchronousCommandExecution(false);
    for (int i = 0; i < 20; ++i) {
        view->draw();
    }
    auto queue = test::device()->newCommandQueue();
    auto fence = queue->commandBuffer();
    fence->commit();
    fence->waitUntilCompleted();
    EXPECT_EQ(host->presentedCount(), 20u);
    const auto ids = host->presentedIDs();
    for (size_t i = 1; i < ids.size(); ++i) {
        EXPECT_EQ(ids[i], ids[i - 1] + 1);
    }
}

} // namespace
} // namespace velmora
