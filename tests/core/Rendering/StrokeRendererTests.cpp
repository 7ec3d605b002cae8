#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "Rendering/MetalHelper.hpp"
#include "Rendering/StrokeRenderer.hpp"
#include "foundation/MainQueue.hpp"
#include "foundation/UserDefaults.hpp"
#include "graphics/ColorManagement.hpp"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace velmora;
using namespace std::chrono_literals;
using Kind = MTLCommandTraceEntry::Kind;
using Dot = StrokesViewModel::Dot;

namespace {

constexpr int64_t kSide = 64;

// Records every call as one line, and hands out the layer a paste went to.
class RecordingDelegate : public StrokeRendererDelegate {
public:
    std::vector<std::string> calls;
    std::shared_ptr<RasterLayer> activeLayer = RasterLayer::make("active");
    struct Committed {
        std::shared_ptr<NSBitmapImageRep> after, before;
        MTLOrigin origin;
        std::shared_ptr<RasterLayer> layer;
    };
    std::vector<Committed> commits;

    std::shared_ptr<RasterLayer>
    strokeRendererPasteToActiveLayer(StrokeRenderer&, const std::shared_ptr<MTLTexture>&,
                                     const MTLRegion& region, const std::vector<MTLRegion>&,
                                     const std::shared_ptr<MTLCommandBuffer>&) override {
        calls.push_back("paste " + description(region));
        return activeLayer;
    }
    void strokeRendererDidCommit(StrokeRenderer&, const std::shared_ptr<NSBitmapImageRep>& after,
                                 const std::shared_ptr<NSBitmapImageRep>& before,
                                 const MTLOrigin& origin, const std::vector<MTLRegion>&,
                                 const std::shared_ptr<RasterLayer>& layer) override {
        std::ostringstream line;
        line << "commit " << after->pixelsWide() << "x" << after->pixelsHigh() << " "
             << before->pixelsWide() << "x" << before->pixelsHigh() << " at " << origin.x << ","
             << origin.y;
        calls.push_back(line.str());
        commits.push_back({after, before, origin, layer});
    }
    void strokeRendererDidDrawIn(StrokeRenderer&, const MTLRegion& region) override {
        calls.push_back("draw " + description(region));
    }
    void strokeRendererDidBeginDrawing(StrokeRenderer&) override { calls.push_back("begin"); }
    void strokeRendererDidEndDrawing(StrokeRenderer&) override { calls.push_back("end"); }
};

Dot dot(double x, double y, double radius, NSColorRef color = NSColor::colorWithSRGBRed(1, 0, 0, 1),
        double hardness = 1, double opacity = 1) {
    return {{x, y}, std::move(color), radius, hardness, opacity};
}

std::array<uint8_t, 4> pixelAt(const NSBitmapImageRep& bitmap, int64_t x, int64_t y) {
    const uint8_t* p = bitmap.row(y) + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

class StrokeRendererTest : public ::testing::Test {
protected:
    StrokeRendererTest() : defaults_(std::nullopt), settings_(defaults_) {
        queue_ = StrokesViewModel::make(settings_);
        auto& helper = *MetalHelper::shared();
        renderer_ = StrokeRenderer::make({helper.device(), MTLPixelFormat::bgra8Unorm}, queue_,
                                         {kSide, kSide, 1});
        renderer_->setDelegate(delegate_);
        destination_ =
            helper.makeTexture({kSide, kSide, 1}, MTLTextureUsage::shaderReadWrite,
                               MTLStorageMode::managed, drawingPixelFormat, std::nullopt);
        fillDestination({1, 1, 1, 1});
    }

    void fillDestination(std::array<float, 4> c) {
        std::vector<float> v(size_t(kSide * kSide * 4));
        for (size_t i = 0; i < v.size(); ++i) {
            v[i] = c[i % 4];
        }
        destination_->replaceRegion(MTLRegionMake2D(0, 0, kSide, kSide), 0, v.data(), kSide * 16);
    }

    std::array<float, 4> destinationAt(int64_t x, int64_t y) {
        std::array<float, 4> p{};
        destination_->getBytes(p.data(), 16, MTLRegionMake2D(x, y, 1, 1), 0);
        return p;
    }

    // One frame; the command buffer is committed and has completed, its main-queue
    // work not yet run.
    std::shared_ptr<MTLCommandBuffer> frame() {
        auto commandBuffer = MetalHelper::shared()->commandQueue()->commandBuffer();
        renderer_->render(destination_, commandBuffer);
        commandBuffer->commit();
        commandBuffer->waitUntilCompleted();
        EXPECT_EQ(commandBuffer->status(), MTLCommandBufferStatus::completed);
        return commandBuffer;
    }

    void close() {
        bool done = false;
        queue_->closeStroke([&] { done = true; });
        ASSERT_TRUE(MainQueue::runUntil([&] { return done; }, 10s));
    }

    static std::vector<std::string> computeLabels(const MTLCommandBuffer& commandBuffer) {
        std::vector<std::string> labels;
        for (const auto& entry : commandBuffer.debugTrace()) {
            if (entry.kind == Kind::computeEncoder && entry.label &&
                entry.label->starts_with("Draw ")) {
                labels.push_back(*entry.label);
            }
        }
        return labels;
    }

    UserDefaults defaults_;
    DrawingSettings settings_;
    std::shared_ptr<StrokesViewModel> queue_;
    std::shared_ptr<StrokeRenderer> renderer_;
    std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
    std::shared_ptr<MTLTexture> destination_;
};

TEST_F(StrokeRendererTest, PendingDotsGoOutInTheLargestBatchesFirst) {
    const auto draw = [](int n) { return "Draw " + std::to_string(n) + " dots compute encoder"; };
    struct Case {
        int dots;
        std::vector<std::string> batches;
    };
    for (const auto& c : std::vector<Case>{
             {100,
              {draw(85), draw(8), draw(1), draw(1), draw(1), draw(1), draw(1), draw(1), draw(1)}},
             {7, std::vector<std::string>(7, draw(1))},
             {32, {draw(32)}},
             {0, {}},
         }) {
        SCOPED_TRACE(c.dots);
        std::vector<Dot> dots;
        for (int i = 0; i < c.dots; ++i) {
            dots.push_back(dot(10 + 0.4 * i, 20, 3));
        }
        queue_->appendDots(dots);
        delegate_->calls.clear();
        const auto commandBuffer = frame();
        EXPECT_EQ(computeLabels(*commandBuffer), c.batches);
        // One drawn region per batch, after the one beginning.
        const size_t draws = std::count_if(delegate_->calls.begin(), delegate_->calls.end(),
                                           [](const auto& s) { return s.starts_with("draw"); });
        EXPECT_EQ(draws, c.batches.size());
        EXPECT_TRUE(queue_->front() == nullptr);
    }
}

TEST_F(StrokeRendererTest, BatchesAreClippedAtEveryEdgeAndDispatchedOnlyInside) {
    struct Case {
        Dot dot;
        MTLRegion drawn;
        MTLSize threadgroups;
    };
    for (const auto& c : std::vector<Case>{
             {dot(-50, 10, 60), MTLRegionMake2D(0, 0, 11, 64), {1, 4, 1}},
             {dot(10.7, 20.2, 2.3), MTLRegionMake2D(7, 17, 7, 7), {1, 1, 1}},
             {dot(-0.5, 5, 1), MTLRegionMake2D(0, 4, 2, 3), {1, 1, 1}},
             {dot(62, 30, 5), MTLRegionMake2D(57, 25, 7, 11), {1, 1, 1}},
             {dot(30, 63.5, 4), MTLRegionMake2D(26, 59, 9, 5), {1, 1, 1}},
             {dot(30, -2, 4), MTLRegionMake2D(26, 0, 9, 3), {1, 1, 1}},
             {dot(1e6, 1e6, 4), {}, {}},
             {dot(-1e9, 20, 500), {}, {}},
         }) {
        SCOPED_TRACE(description(c.drawn));
        queue_->appendDots({c.dot});
        delegate_->calls.clear();
        const auto before = renderer_->strokeBounds();
        const auto commandBuffer = frame();
        EXPECT_EQ(delegate_->calls.back(), "draw " + description(c.drawn));
        EXPECT_EQ(renderer_->strokeBounds(), unionWith(before, c.drawn));
        std::vector<MTLSize> dispatches;
        for (const auto& entry : commandBuffer->debugTrace()) {
            if (entry.kind == Kind::dispatch) {
                dispatches.push_back(entry.threadgroups);
            }
        }
        if (isEmpty(c.drawn)) {
            EXPECT_TRUE(dispatches.empty());
        } else {
            EXPECT_EQ(dispatches, std::vector<MTLSize>{c.threadgroups});
        }
    }
}

TEST_F(StrokeRendererTest, AStrokeReportsItsLifeToTheDelegateInOrder) {
    queue_->appendDots({dot(9, 9, 4)});
    frame();
    queue_->appendDots({dot(10, 10, 4)});
    close();
    const auto layer = delegate_->activeLayer;
    frame();
    EXPECT_EQ(renderer_->strokeBounds(), MTLRegion{});
    // The layer the stroke was pasted into is the one its commit names, whatever is
    // active when the GPU is done.
    delegate_->activeLayer = RasterLayer::make("another");
    EXPECT_EQ(delegate_->calls,
              (std::vector<std::string>{"begin", "draw " + description(MTLRegionMake2D(5, 5, 9, 9)),
                                        "draw " + description(MTLRegionMake2D(6, 6, 9, 9)),
                                        "paste " + description(MTLRegionMake2D(5, 5, 10, 10))}));
    delegate_->calls.clear();
    MainQueue::runUntilIdle();
    EXPECT_EQ(delegate_->calls,
              (std::vector<std::string>{"end", "commit 10x10 10x10 at 5,5",
                                        "draw " + description(MTLRegionMake2D(5, 5, 10, 10))}));
    ASSERT_EQ(delegate_->commits.size(), 1u);
    EXPECT_EQ(delegate_->commits[0].layer, layer);
    // White before, red after at the dot's centre; rows go up from the region's origin.
    EXPECT_EQ(pixelAt(*delegate_->commits[0].before, 4, 4),
              (std::array<uint8_t, 4>{255, 255, 255, 255}));
    EXPECT_EQ(pixelAt(*delegate_->commits[0].after, 4, 4),
              (std::array<uint8_t, 4>{255, 0, 0, 255}));
    EXPECT_EQ(destinationAt(9, 9), (std::array<float, 4>{1, 0, 0, 1}));
    EXPECT_EQ(destinationAt(20, 20), (std::array<float, 4>{1, 1, 1, 1}));
}

TEST_F(StrokeRendererTest, FinishedStrokesWithoutPixelsOnlyBeginAndEnd) {
    close(); // no dots at all
    queue_->appendDots({dot(-100, -100, 3)});
    close(); // dots only outside the canvas
    frame();
    MainQueue::runUntilIdle();
    EXPECT_EQ(delegate_->calls,
              (std::vector<std::string>{"begin", "draw " + description(MTLRegion{}), "end"}));
    EXPECT_TRUE(delegate_->commits.empty());
    // Nothing queued and nothing unfinished: a frame does nothing.
    delegate_->calls.clear();
    frame();
    EXPECT_TRUE(delegate_->calls.empty());
}

TEST_F(StrokeRendererTest, ErasingStrokesEraseAndThePaintingOneAfterPaintsAgain) {
    queue_->appendDots({dot(20, 20, 5, nullptr)});
    close();
    queue_->front()->erasing = true;
    auto commandBuffer = frame();
    EXPECT_EQ(renderer_->strokeLayer()->blendMode(), BlendMode::eraser);
    bool group = false;
    for (const auto& entry : commandBuffer->debugTrace()) {
        group |=
            entry.kind == Kind::pushDebugGroup && entry.label == "Blend stroke to layer (eraser)";
    }
    EXPECT_TRUE(group);
    EXPECT_EQ(destinationAt(20, 20)[3], 0);
    EXPECT_EQ(destinationAt(40, 40)[3], 1);

    queue_->appendDots({dot(20, 20, 2, NSColor::colorWithSRGBRed(0, 0, 1, 1))});
    close();
    commandBuffer = frame();
    EXPECT_EQ(renderer_->strokeLayer()->blendMode(), BlendMode::sourceOver);
    EXPECT_EQ(destinationAt(20, 20), (std::array<float, 4>{0, 0, 1, 1}));
    EXPECT_EQ(destinationAt(23, 20)[3], 0); // erased, outside the second dot
    MainQueue::runUntilIdle();
}

TEST_F(StrokeRendererTest, StrokesFinishingTogetherKeepTheirOwnSnapshots) {
    // Two strokes of the same region, red then blue, blended in one frame: the
    // first one's "after" is red, not what the second stroke left.
    queue_->appendDots({dot(20, 20, 4)});
    close();
    queue_->appendDots({dot(20, 20, 4, NSColor::colorWithSRGBRed(0, 0, 1, 1))});
    close();
    frame();
    MainQueue::runUntilIdle();
    // One period of drawing: one beginning, one end.
    EXPECT_EQ(std::count(delegate_->calls.begin(), delegate_->calls.end(), "begin"), 1);
    EXPECT_EQ(std::count(delegate_->calls.begin(), delegate_->calls.end(), "end"), 1);
    // A later stroke of that size takes the pooled pair again.
    queue_->appendDots({dot(40, 40, 4, NSColor::colorWithSRGBRed(0, 1, 0, 1))});
    close();
    frame();
    MainQueue::runUntilIdle();
    ASSERT_EQ(delegate_->commits.size(), 3u);
    const std::array<uint8_t, 4> white{255, 255, 255, 255}, red{255, 0, 0, 255},
        blue{0, 0, 255, 255}, green{0, 255, 0, 255};
    EXPECT_EQ(pixelAt(*delegate_->commits[0].before, 4, 4), white);
    EXPECT_EQ(pixelAt(*delegate_->commits[0].after, 4, 4), red);
    EXPECT_EQ(pixelAt(*delegate_->commits[1].before, 4, 4), red);
    EXPECT_EQ(pixelAt(*delegate_->commits[1].after, 4, 4), blue);
    EXPECT_EQ(pixelAt(*delegate_->commits[2].before, 4, 4), white);
    EXPECT_EQ(pixelAt(*delegate_->commits[2].after, 4, 4), green);
}

TEST_F(StrokeRendererTest, DrawingEndsOnlyWhenTheLastStrokeInProgressCompletes) {
    queue_->appendDots({dot(10, 10, 2)});
    close();
    frame();
    queue_->appendDots({dot(30, 30, 2)}); // the next stroke starts before the first completes
    frame();
    MainQueue::runUntilIdle();
    EXPECT_EQ(std::count(delegate_->calls.begin(), delegate_->calls.end(), "begin"), 1);
    EXPECT_EQ(std::count(delegate_->calls.begin(), delegate_->calls.end(), "end"), 0);
    close();
    frame();
    MainQueue::runUntilIdle();
    EXPECT_EQ(delegate_->calls.back(), "draw " + description(MTLRegionMake2D(28, 28, 5, 5)));
    EXPECT_EQ(std::count(delegate_->calls.begin(), delegate_->calls.end(), "end"), 1);
    EXPECT_EQ(delegate_->commits.size(), 2u);
}

TEST_F(StrokeRendererTest, ARendererReleasedBeforeCompletionReportsNothingMore) {
    queue_->appendDots({dot(10, 10, 2)});
    close();
    auto commandBuffer = MetalHelper::shared()->commandQueue()->commandBuffer();
    renderer_->render(destination_, commandBuffer);
    const auto calls = delegate_->calls;
    renderer_.reset();
    commandBuffer->commit();
    commandBuffer->waitUntilCompleted();
    MainQueue::runUntilIdle();
    EXPECT_EQ(delegate_->calls, calls);
}

TEST_F(StrokeRendererTest, TheStrokeTextureIsTransparentAgainAfterTheBlend) {
    queue_->appendDots({dot(30, 30, 3), dot(33, 31, 3)});
    frame();
    const auto contents = renderer_->strokeTexture()->contents();
    const auto alphaAt = [&](int64_t x, int64_t y) {
        return reinterpret_cast<const float*>(contents.row(y))[4 * x + 3];
    };
    EXPECT_EQ(alphaAt(30, 30), 1);
    close();
    frame();
    for (int64_t y = 0; y < kSide; ++y) {
        for (int64_t x = 0; x < kSide; ++x) {
            ASSERT_EQ(alphaAt(x, y), 0) << x << ", " << y;
        }
    }
    MainQueue::runUntilIdle();
}

// A pause after every stroke is finished, the stroke texture gives its pages back: a long
// session would otherwise keep a canvas's worth of floats that some stroke
// once touched.
TEST(StrokeRendererPages, TheStrokeTextureHoldsNoPagesOnceEveryStrokeIsFinished) {
    constexpr int64_t side = 512; // large enough to be mapped rather than on the heap
    UserDefaults defaults(std::nullopt);
    DrawingSettings settings(defaults);
    const auto queue = StrokesViewModel::make(settings);
    auto& helper = *MetalHelper::shared();
    const auto renderer =
        StrokeRenderer::make({helper.device(), MTLPixelFormat::bgra8Unorm}, queue, {side, side, 1});
    renderer->setDelegate(std::make_shared<RecordingDelegate>());
    const auto destination =
        helper.makeTexture({side, side, 1}, MTLTextureUsage::shaderReadWrite,
                           MTLStorageMode::managed, drawingPixelFormat, std::nullopt);
    const auto residentPages = [&] {
        const auto contents = renderer->strokeTexture()->contentsForReading();
        const auto page = uintptr_t(::sysconf(_SC_PAGESIZE));
        const auto begin = reinterpret_cast<uintptr_t>(contents.row(0)) / page * page;
        const auto end = reinterpret_cast<uintptr_t>(contents.row(side - 1)) + contents.bytesPerRow;
        std::vector<unsigned char> pages((end - begin + page - 1) / page);
        EXPECT_EQ(::mincore(reinterpret_cast<void*>(begin), end - begin, pages.data()), 0);
        return std::count_if(pages.begin(), pages.end(), [](unsigned char p) { return p & 1; });
    };
    const auto frame = [&] {
        const auto commandBuffer = helper.commandQueue()->commandBuffer();
        renderer->render(destination, commandBuffer);
        commandBuffer->commit();
        commandBuffer->waitUntilCompleted();
    };
    queue->appendDots({dot(200, 200, 150), dot(300, 320, 150)});
    frame();
    EXPECT_GT(residentPages(), 100) << "the stroke being drawn";
    bool closed = false;
    queue->closeStroke([&] { closed = true; });
    ASSERT_TRUE(MainQueue::runUntil([&] { return closed; }, 10s));
    frame();
    // Given back after a pause, once the release has run on the timeline.
    EXPECT_TRUE(MainQueue::runUntil(
        [&] {
            const auto after = helper.commandQueue()->commandBuffer();
            after->commit();
            after->waitUntilCompleted();
            return residentPages() == 0;
        },
        20s));
}

} // namespace
