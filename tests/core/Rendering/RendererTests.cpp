#include "Rendering/BenchmarkedRenderer.hpp"
#include "Rendering/Renderer.hpp"
#include "foundation/ByteCount.hpp"
#include "foundation/LogCapture.hpp"
#include "foundation/MainQueue.hpp"
#include "gpu/HeadlessViewHost.hpp"
#include "gpu/MTKView.hpp"

#include <chrono>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace velmora;

namespace {

constexpr std::string_view kStatistics = "Rendering Statistics";

// Records the label of every frame buffer it is handed, under its own name.
struct Recorder : RendererComputable, RendererDrawable {
    Recorder(std::string name, std::vector<std::string>& journal)
        : name(std::move(name)), journal(journal) {}
    void compute(const std::shared_ptr<MTLCommandBuffer>& buffer) override {
        journal.push_back(name + " compute " + buffer->label().value_or("?"));
        if (onCompute) {
            onCompute();
        }
    }
    void render(MTLViewport viewport, const MTLRenderPassDescriptor& descriptor,
                const std::shared_ptr<MTLCommandBuffer>& buffer) override {
        journal.push_back(name + " render " + buffer->label().value_or("?"));
        lastViewport = viewport;
        EXPECT_NE(descriptor.colorAttachments[0].texture, nullptr);
    }
    std::string name;
    std::vector<std::string>& journal;
    std::function<void()> onCompute;
    MTLViewport lastViewport;
};

class RendererTest : public ::testing::Test {
protected:
    void SetUp() override {
        device->setSynchronousCommandExecution(true);
        view = MTKView::make(device);
        view->setHost(host);
        view->setDrawableSize({6, 4});
        renderer = Renderer::make(view, device);
    }
    void TearDown() override {
        renderer = nullptr;
        view = nullptr;
        MainQueue::runUntilIdle();
        device->setSynchronousCommandExecution(false);
    }
    std::shared_ptr<Recorder> recorder(const std::string& name) {
        return std::make_shared<Recorder>(name, journal);
    }

    std::shared_ptr<MTLDevice> device = MTLCreateSystemDefaultDevice();
    std::shared_ptr<HeadlessViewHost> host = std::make_shared<HeadlessViewHost>(false);
    std::shared_ptr<MTKView> view;
    std::shared_ptr<Renderer> renderer;
    std::vector<std::string> journal;
};

TEST_F(RendererTest, SetsUpTheViewForFramesOnRequest) {
    EXPECT_TRUE(view->isPaused());
    EXPECT_TRUE(view->enableSetNeedsDisplay());
    EXPECT_TRUE(view->presentsWithTransaction());
    EXPECT_TRUE(view->needsDisplay()) << "a paused view draws its first frame";
    EXPECT_EQ(view->delegate(), renderer);
    EXPECT_EQ(view->device(), device);
    EXPECT_NE(view->colorspace(), nullptr);
    const auto clear = view->clearColor();
    EXPECT_NEAR(clear.red, 236.0 / 255.0, 1e-6);
    EXPECT_EQ(clear.alpha, 1.0);
    EXPECT_EQ(renderer->settings(), (Renderer::Settings{device, MTLPixelFormat::bgra8Unorm}));
    view->setColorPixelFormat(MTLPixelFormat::rgba8Unorm);
    EXPECT_EQ(renderer->settings().colorPixelFormat, MTLPixelFormat::rgba8Unorm);
    MainQueue::runUntilIdle();
    EXPECT_EQ(renderer->drawCounter(), 1);
    EXPECT_EQ(host->presentedCount(), 1u);
}

TEST_F(RendererTest, LogsItsCreationWithTheDeviceName) {
    LogCapture capture;
    auto other = Renderer::make(MTKView::make(device), device);
    EXPECT_EQ(capture.messages(kStatistics),
              (std::vector<std::string>{"Creating Renderer with device " + device->name()}));
}

TEST_F(RendererTest, FramesNumberTheirBuffersAndRunClientsInOrder) {
    auto a = recorder("a"), b = recorder("b");
    renderer->computables = {Renderer::WeakComputable(a), Renderer::WeakComputable(b)};
    renderer->drawables = {Renderer::WeakDrawable(b), Renderer::WeakDrawable(a)};
    view->draw();
    view->draw();
    EXPECT_EQ(journal,
              (std::vector<std::string>{"a compute Compute CB #1", "b compute Compute CB #1",
                                        "b render Render CB #1", "a render Render CB #1",
                                        "a compute Compute CB #2", "b compute Compute CB #2",
                                        "b render Render CB #2", "a render Render CB #2"}));
    EXPECT_EQ(a->lastViewport, (MTLViewport{0, 0, 6, 4, -1, 1}));
    EXPECT_EQ(host->presentedCount(), 2u);
}

TEST_F(RendererTest, ReleasedClientsAreSkippedAndTheRestStillRun) {
    auto a = recorder("a"), b = recorder("b"), c = recorder("c");
    renderer->computables = {Renderer::WeakComputable(a), Renderer::WeakComputable(b),
                             Renderer::WeakComputable(c)};
    renderer->drawables = {Renderer::WeakDrawable(b), Renderer::WeakDrawable(c)};
    b = nullptr;
    view->draw();
    EXPECT_EQ(journal,
              (std::vector<std::string>{"a compute Compute CB #1", "c compute Compute CB #1",
                                        "c render Render CB #1"}));
    EXPECT_EQ(renderer->computables.size(), 3u) << "lists are not pruned";
}

TEST_F(RendererTest, ClientRegisteredDuringAFrameRunsFromTheNextFrame) {
    auto a = recorder("a"), late = recorder("late");
    a->onCompute = [&] {
        if (renderer->computables.size() == 1) {
            renderer->computables.push_back(Renderer::WeakComputable(late));
            renderer->drawables.push_back(Renderer::WeakDrawable(late));
        }
    };
    renderer->computables = {Renderer::WeakComputable(a)};
    view->draw();
    view->draw();
    EXPECT_EQ(journal,
              (std::vector<std::string>{"a compute Compute CB #1", "a compute Compute CB #2",
                                        "late compute Compute CB #2", "late render Render CB #2"}));
}

TEST_F(RendererTest, FrameWithoutADrawableAsksNoDrawableAndPresentsNothing) {
    struct Keeper : MTKViewHost {
        void displayDrawable(std::shared_ptr<CAMetalDrawable> d) override { kept.push_back(d); }
        std::vector<std::shared_ptr<CAMetalDrawable>> kept;
    };
    auto keeper = std::make_shared<Keeper>();
    view->setHost(keeper);
    view->setDrawableTimeout(std::chrono::milliseconds(1));
    auto a = recorder("a");
    renderer->computables = {Renderer::WeakComputable(a)};
    renderer->drawables = {Renderer::WeakDrawable(a)};
    for (int i = 0; i < 4; ++i) {
        view->draw();
    }
    EXPECT_EQ(keeper->kept.size(), 3u);
    EXPECT_EQ(journal.back(), "a compute Compute CB #4") << "the fourth frame only computed";
    EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                            [](const std::string& s) { return s.starts_with("a render"); }),
              3);
}

TEST_F(RendererTest, NeedsDisplayMarksOnlyAPausedView) {
    MainQueue::runUntilIdle();
    renderer->needsDisplay();
    EXPECT_TRUE(view->needsDisplay());
    MainQueue::runUntilIdle();
    auto scope = renderer->makeLiveScope();
    renderer->needsDisplay();
    EXPECT_FALSE(view->needsDisplay());
    renderer->mtkView(*view, {1, 1});
    EXPECT_FALSE(view->needsDisplay());
}

TEST_F(RendererTest, NestedLiveScopesEnterAndExitLiveModeOnce) {
    LogCapture capture;
    EXPECT_FALSE(renderer->isLiveRendering());
    auto first = renderer->makeLiveScope();
    auto second = renderer->makeLiveScope();
    EXPECT_TRUE(renderer->isLiveRendering());
    EXPECT_EQ(renderer->activeLiveRenderingCount(), 2);
    first = nullptr;
    EXPECT_TRUE(renderer->isLiveRendering()) << "the view runs until the last scope closes";
    EXPECT_FALSE(view->isPaused());
    second = nullptr;
    EXPECT_FALSE(renderer->isLiveRendering());
    EXPECT_EQ(renderer->activeLiveRenderingCount(), 0);
    EXPECT_EQ(
        capture.messages(kStatistics),
        (std::vector<std::string>{"Renderer entered live mode", "Renderer exited live mode"}));
}

TEST_F(RendererTest, LiveScopeKeepsItsRendererAlive) {
    auto scope = renderer->makeLiveScope();
    std::weak_ptr<Renderer> weak = renderer;
    renderer = nullptr;
    EXPECT_FALSE(weak.expired());
    EXPECT_EQ(scope->renderer(), weak.lock());
    scope = nullptr;
    EXPECT_TRUE(weak.expired());
}

TEST_F(RendererTest, LiveFramesComeFromTheViewsClock) {
    auto scope = renderer->makeLiveScope();
    view->setPreferredFramesPerSecond(200);
    EXPECT_TRUE(MainQueue::runUntil([&] { return renderer->drawCounter() >= 2; },
                                    std::chrono::seconds(10)));
    scope = nullptr;
    MainQueue::runUntilIdle();
    const auto frames = renderer->drawCounter();
    MainQueue::runUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(50));
    EXPECT_EQ(renderer->drawCounter(), frames);
}

// Frames the view asks for itself while a frame's compute work still runs wait
// for it and come as one frame; frames drawn from outside are never put off.
TEST_F(RendererTest, FramesAskedForDuringALongFrameShareOneFrameAfterIt) {
    device->setSynchronousCommandExecution(false);
    MainQueue::runUntilIdle(); // the first frame, asked for at set-up
    struct Slow : RendererComputable {
        std::shared_future<void> open;
        void compute(const std::shared_ptr<MTLCommandBuffer>& buffer) override {
            buffer->encodeHostCommand("Wait", [open = open] { open.wait(); }, {});
        }
    };
    // Draws a frame whose compute work runs until the returned gate opens.
    const auto slowFrame = [&] {
        auto gate = std::make_shared<std::promise<void>>();
        auto slow = std::make_shared<Slow>();
        slow->open = gate->get_future().share();
        renderer->computables = {Renderer::WeakComputable(slow)};
        view->draw();
        renderer->computables.clear();
        return gate;
    };
    // Buffers run in commit order: once this one is done, so are the frames.
    const auto settle = [&] {
        const auto barrier = device->newCommandQueue()->commandBuffer();
        barrier->commit();
        barrier->waitUntilCompleted();
        MainQueue::runUntilIdle();
    };
    const auto finish = [&](const std::shared_ptr<std::promise<void>>& gate) {
        gate->set_value();
        settle();
    };

    auto gate = slowFrame();
    const int64_t inFlight = renderer->drawCounter();
    for (int i = 0; i < 3; ++i) {
        view->setNeedsDisplay(true);
        MainQueue::runUntilIdle();
    }
    EXPECT_EQ(renderer->drawCounter(), inFlight) << "asked-for frames wait";
    finish(gate);
    EXPECT_EQ(renderer->drawCounter(), inFlight + 1) << "one frame for every request";
    settle();
    view->setNeedsDisplay(true);
    MainQueue::runUntilIdle();
    EXPECT_EQ(renderer->drawCounter(), inFlight + 2) << "nothing in flight: drawn at once";

    gate = slowFrame();
    view->draw();
    EXPECT_EQ(renderer->drawCounter(), inFlight + 4) << "a draw from outside is not put off";
    finish(gate);
    EXPECT_EQ(renderer->drawCounter(), inFlight + 4);
}

TEST_F(RendererTest, ClosingAScopeAfterTheViewIsGoneOnlyCountsDown) {
    LogCapture capture;
    auto scope = renderer->makeLiveScope();
    view = nullptr;
    scope = nullptr;
    EXPECT_EQ(renderer->activeLiveRenderingCount(), 0);
    EXPECT_EQ(capture.messages(kStatistics),
              (std::vector<std::string>{"Renderer entered live mode"}));
}

TEST_F(RendererTest, BenchmarkLineOnlyForSecondsOffTheSixtyBeat) {
    auto benchmarked = BenchmarkedRenderer::make(view, device);
    ASSERT_NE(benchmarked->timer(), nullptr);
    EXPECT_TRUE(benchmarked->timer()->repeats());
    EXPECT_EQ(benchmarked->timer()->timeInterval(), Timer::Interval(1.0));
    for (const int frames : {59, 61, 0, 60, 120, 1}) {
        LogCapture capture;
        for (int i = 0; i < frames; ++i) {
            view->draw();
        }
        EXPECT_EQ(benchmarked->drawCount(), frames);
        benchmarked->tick();
        EXPECT_EQ(benchmarked->drawCount(), 0);
        const auto lines = capture.messages(kStatistics);
        if (frames % 60 == 0) {
            EXPECT_TRUE(lines.empty()) << frames;
        } else {
            ASSERT_EQ(lines.size(), 1u) << frames;
            EXPECT_EQ(lines[0], std::to_string(frames) + " fps with " +
                                    formattedByteCount(device->currentAllocatedSize()) + "/" +
                                    formattedByteCount(device->recommendedMaxWorkingSetSize()));
        }
    }
}

TEST_F(RendererTest, BenchmarkTimerLetsGoOfItsRenderer) {
    auto benchmarked = BenchmarkedRenderer::make(view, device);
    const auto timer = benchmarked->timer();
    std::weak_ptr<BenchmarkedRenderer> weak = benchmarked;
    benchmarked = nullptr;
    EXPECT_TRUE(weak.expired());
    EXPECT_FALSE(timer->isValid());
}

} // namespace

TEST_F(RendererTest, BenchmarkTickWithoutItsViewDoesNothing) {
    auto benchmarked = BenchmarkedRenderer::make(view, device);
    view->draw();
    const auto scope = benchmarked->makeLiveScope();
    view = nullptr;
    LogCapture capture;
    benchmarked->tick();
    EXPECT_TRUE(capture.messages(kStatistics).empty());
}
