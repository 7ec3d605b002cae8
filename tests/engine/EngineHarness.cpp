#include "EngineHarness.hpp"

#include "foundation/FatalError.hpp"
#include "foundation/MainQueue.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace velmora::engine {

std::shared_ptr<TestDrawingController>
TestDrawingController::make(const std::shared_ptr<LayeredCanvas>& canvas, DrawingSettings& settings,
                            bool keepsFrames) {
    auto c = std::make_shared<TestDrawingController>();
    c->canvas = canvas;
    const MTLSize size = canvas->size();
    c->host = std::make_shared<HeadlessViewHost>(keepsFrames);
    c->view = MTKView::make(MTLCreateSystemDefaultDevice());
    c->view->setHost(c->host);
    c->view->setBoundsSize({double(size.width), double(size.height)});
    c->view->setDrawableSize({double(size.width), double(size.height)});
    // The tests draw each frame themselves; the clock of a live view stays out of
    // the way.
    c->view->setPreferredFramesPerSecond(1);
    c->renderer = Renderer::make(c->view, c->view->device());

    c->strokesViewModel = StrokesViewModel::make(settings);
    c->shadow = StrokesViewModel::make(settings);
    c->drawable =
        std::make_shared<DrawingDrawable>(c->renderer->settings(), c->displayViewModel, size);
    c->strokeRenderer_ = StrokeRenderer::make(c->renderer->settings(), c->strokesViewModel, size);
    c->renderedCanvas =
        std::make_shared<LiveRenderedCanvas>(canvas, c->strokeRenderer_->strokeLayer());
    c->strokeRenderer_->setDelegate(c);
    c->renderer->computables.emplace_back(c);
    c->renderer->computables.emplace_back(c->renderedCanvas);
    c->renderer->drawables.emplace_back(c);

    std::weak_ptr<TestDrawingController> weak = c;
    const auto follow = [weak](LayeredCanvas& changed) {
        const auto self = weak.lock();
        if (self == nullptr) {
            return;
        }
        const auto layer = changed.activeLayer();
        self->currentRenderedLayer =
            layer == nullptr
                ? nullptr
                : std::make_shared<OpaqueRenderedLayer>(changed.size(), self->pool, layer);
    };
    follow(*canvas);
    c->activeLayerObservation = canvas->observeActiveLayer(follow);
    return c;
}

void TestDrawingController::compute(const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    if (currentRenderedLayer == nullptr) {
        return;
    }
    // Record what this frame is about to stamp: a stroke seen for the first time
    // gets a new entry, one seen before gets its newly arrived dots appended.
    if (const auto front = strokesViewModel->front()) {
        if (strokeIDs.empty() || strokeIDs.back() != front->uuid) {
            strokeIDs.push_back(front->uuid);
            strokeDots.emplace_back();
        }
        strokeDots.back().insert(strokeDots.back().end(), front->dots.begin(), front->dots.end());
    }
    strokeRenderer_->render(currentRenderedLayer->texture(), commandBuffer);
}

void TestDrawingController::render(MTLViewport viewport,
                                   const MTLRenderPassDescriptor& renderPassDescriptor,
                                   const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    const bool hasLayers = !canvas->immediateLayers().empty();
    drawable->render(hasLayers ? renderedCanvas->texture() : nullptr, viewport,
                     renderPassDescriptor, *commandBuffer);
}

std::shared_ptr<RasterLayer> TestDrawingController::strokeRendererPasteToActiveLayer(
    StrokeRenderer&, const std::shared_ptr<MTLTexture>& texture, const MTLRegion& region,
    const std::vector<MTLRegion>& tiles, const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    const auto layer = std::dynamic_pointer_cast<RasterLayer>(canvas->activeLayer());
    if (layer == nullptr) {
        fatalError("Internal inconcistency");
    }
    layer->paste(texture, region, tiles, commandBuffer);
    events.push_back({Event::Kind::pasted, region, nullptr, nullptr, layer});
    return layer;
}

void TestDrawingController::strokeRendererDidCommit(StrokeRenderer&,
                                                    const std::shared_ptr<NSBitmapImageRep>& after,
                                                    const std::shared_ptr<NSBitmapImageRep>& before,
                                                    const MTLOrigin& origin,
                                                    const std::vector<MTLRegion>& parts,
                                                    const std::shared_ptr<RasterLayer>& layer) {
    // Recorded the size of the region, the parts at their place, clear elsewhere;
    // the parts reach every edge of the region, since every dot marked its tiles.
    MTLRegion region{origin, {0, 0, 1}};
    for (const MTLRegion& part : parts) {
        region.size.width = std::max(region.size.width, part.origin.x + part.size.width);
        region.size.height = std::max(region.size.height, part.origin.y + part.size.height);
    }
    const auto unpacked = [&](const NSBitmapImageRep& packed) {
        auto whole =
            NSBitmapImageRep::makeRGBA8(region.size.width, region.size.height, packed.colorSpace());
        int64_t row = 0;
        for (const MTLRegion& part : parts) {
            for (int64_t y = 0; y < part.size.height; ++y, ++row) {
                std::memcpy(whole->row(part.origin.y + y) + 4 * part.origin.x, packed.row(row),
                            size_t(4 * part.size.width));
            }
        }
        return whole;
    };
    events.push_back({Event::Kind::committed, region, unpacked(*after), unpacked(*before), layer});
}

void TestDrawingController::strokeRendererDidDrawIn(StrokeRenderer&, const MTLRegion& region) {
    events.push_back({Event::Kind::drew, region, nullptr, nullptr});
    renderedCanvas->needsUpdate(region);
    if (strokeLiveScope == nullptr) {
        renderer->needsDisplay();
    }
}

void TestDrawingController::strokeRendererDidCommitIn(StrokeRenderer&, const MTLRegion& region,
                                                      const std::vector<MTLRegion>& tiles) {
    events.push_back({Event::Kind::drew, region, nullptr, nullptr});
    renderedCanvas->needsUpdateIn(tiles);
    if (strokeLiveScope == nullptr) {
        renderer->needsDisplay();
    }
}

void TestDrawingController::strokeRendererDidBeginDrawing(StrokeRenderer&) {
    events.push_back({Event::Kind::began, {}, nullptr, nullptr});
    strokeLiveScope = renderer->makeLiveScope();
}

void TestDrawingController::strokeRendererDidEndDrawing(StrokeRenderer&) {
    events.push_back({Event::Kind::ended, {}, nullptr, nullptr});
    strokeLiveScope = nullptr;
}

void TestDrawingController::enqueue(const std::vector<RawPoint>& samples) {
    const int target = samplesDone + 2 * int(samples.size());
    for (const auto& s : samples) {
        strokesViewModel->enqueuePointEvent(s.position, float(s.pressure),
                                            [this](bool) { samplesDone += 1; });
        shadow->enqueuePointEvent(s.position, float(s.pressure),
                                  [this](bool) { samplesDone += 1; });
    }
    const bool done = MainQueue::runUntil([&] { return samplesDone == target; },
                                          std::chrono::milliseconds(20000));
    precondition(done, "Samples never came back from the stabiliser");
}

void TestDrawingController::closeStroke() {
    int closed = 0;
    strokesViewModel->closeStroke([&] { closed += 1; });
    shadow->closeStroke([&] { closed += 1; });
    const bool done =
        MainQueue::runUntil([&] { return closed == 2; }, std::chrono::milliseconds(20000));
    precondition(done, "The stroke was never closed");
}

std::vector<std::vector<StrokesViewModel::Dot>> TestDrawingController::closedStrokes() {
    std::vector<std::vector<StrokesViewModel::Dot>> out;
    while (const auto s = shadow->front()) {
        if (!s->finished) {
            break;
        }
        out.push_back(s->dots);
        shadow->popFront();
    }
    return out;
}

void TestDrawingController::settle() {
    // Every device's buffers run on one timeline in commit order, so once an empty
    // buffer completes, every earlier completion handler has posted its work.
    const auto barrier = view->device()->newCommandQueue()->commandBuffer();
    barrier->commit();
    barrier->waitUntilCompleted();
    MainQueue::runUntilIdle();
}

void TestDrawingController::drawUntilIdle() {
    for (int i = 0; i < 100; ++i) {
        if (strokesViewModel->front() == nullptr) {
            break;
        }
        drawFrame();
    }
    precondition(strokesViewModel->front() == nullptr, "Strokes left after 100 frames");
    settle();
    settle();
}

} // namespace velmora::engine
