#include "Rendering/DrawingDrawable.hpp"
#include "Rendering/Renderer.hpp"
#include "foundation/MainQueue.hpp"
#include "gpu/HeadlessViewHost.hpp"
#include "gpu/MTKView.hpp"
#include "gpu/MTLDevice.hpp"
#include "gpu/SIMD.hpp"

#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

using namespace velmora;
using Kind = MTLCommandTraceEntry::Kind;

namespace {

std::shared_ptr<MTLDevice> device() {
    return MTLCreateSystemDefaultDevice();
}

std::shared_ptr<MTLTexture> texture(int64_t w, int64_t h, MTLPixelFormat format,
                                    MTLTextureUsage usage = MTLTextureUsage::shaderRead) {
    auto d = MTLTextureDescriptor::texture2DDescriptor(format, w, h);
    d.storageMode = MTLStorageMode::shared;
    d.usage = usage;
    return device()->newTexture(d);
}

// Opaque texels, each different from its neighbours.
std::vector<uint8_t> opaquePattern(int64_t w, int64_t h) {
    std::vector<uint8_t> v(static_cast<size_t>(w * h * 4));
    uint32_t s = 7;
    for (size_t i = 0; i < v.size(); ++i) {
        s = s * 1664525u + 1013904223u;
        v[i] = i % 4 == 3 ? 255 : static_cast<uint8_t>(s >> 24);
    }
    return v;
}

std::shared_ptr<MTLTexture> canvas(int64_t w, int64_t h, const std::vector<uint8_t>& bytes) {
    auto t = texture(w, h, MTLPixelFormat::rgba8Unorm);
    t->replaceRegion(MTLRegionMake2D(0, 0, w, h), 0, bytes.data(), w * 4);
    return t;
}

// Records what one render encoder is given.
struct RecordingEncoder : MTLRenderCommandEncoder {
    std::optional<std::string> label_;
    std::optional<std::string> label() const override { return label_; }
    void setLabel(std::optional<std::string> l) override { label_ = std::move(l); }
    void endEncoding() override { ended = true; }
    void setViewport(MTLViewport v) override { calls.push_back("viewport"), viewport = v; }
    void setRenderPipelineState(std::shared_ptr<MTLRenderPipelineState> s) override {
        calls.push_back("pipeline"), pipeline = s;
    }
    void setVertexBytes(const void* b, size_t n, uint64_t i) override {
        calls.push_back("vertexBytes " + std::to_string(i) + " " + std::to_string(n));
        auto p = static_cast<const uint8_t*>(b);
        vertexBytes[i].assign(p, p + n);
    }
    void setVertexBuffer(std::shared_ptr<MTLBuffer>, int64_t, uint64_t) override {
        calls.push_back("vertexBuffer");
    }
    void setFragmentBytes(const void* b, size_t n, uint64_t i) override {
        calls.push_back("fragmentBytes " + std::to_string(i) + " " + std::to_string(n));
        auto p = static_cast<const uint8_t*>(b);
        fragmentBytes.assign(p, p + n);
    }
    void setFragmentBuffer(std::shared_ptr<MTLBuffer>, int64_t, uint64_t) override {
        calls.push_back("fragmentBuffer");
    }
    void setFragmentTexture(std::shared_ptr<MTLTexture> t, uint64_t i) override {
        calls.push_back("fragmentTexture " + std::to_string(i)), fragmentTexture = t;
    }
    void drawPrimitives(MTLPrimitiveType type, uint64_t start, uint64_t count) override {
        EXPECT_EQ(type, MTLPrimitiveType::triangle);
        calls.push_back("draw " + std::to_string(start) + " " + std::to_string(count));
    }

    bool ended = false;
    std::vector<std::string> calls;
    MTLViewport viewport;
    std::shared_ptr<MTLRenderPipelineState> pipeline;
    std::map<uint64_t, std::vector<uint8_t>> vertexBytes;
    std::vector<uint8_t> fragmentBytes;
    std::shared_ptr<MTLTexture> fragmentTexture;
};

// A command buffer that only hands out recording render encoders.
struct RecordingBuffer : MTLCommandBuffer {
    std::vector<std::shared_ptr<RecordingEncoder>> encoders;
    std::optional<std::string> label() const override { return std::nullopt; }
    void setLabel(std::optional<std::string>) override {}
    MTLCommandBufferStatus status() const override { return MTLCommandBufferStatus::notEnqueued; }
    std::optional<std::string> error() const override { return std::nullopt; }
    std::shared_ptr<MTLDevice> device() const override { return ::device(); }
    void pushDebugGroup(std::string) override {}
    void popDebugGroup() override {}
    std::shared_ptr<MTLBlitCommandEncoder> blitCommandEncoder() override { return nullptr; }
    std::shared_ptr<MTLComputeCommandEncoder> computeCommandEncoder() override { return nullptr; }
    std::shared_ptr<MTLRenderCommandEncoder>
    renderCommandEncoder(const MTLRenderPassDescriptor&) override {
        encoders.push_back(std::make_shared<RecordingEncoder>());
        return encoders.back();
    }
    void encodeHostCommand(std::string, std::function<void()>,
                           std::vector<std::shared_ptr<MTLResource>>) override {}
    void addScheduledHandler(Handler) override {}
    void addCompletedHandler(Handler) override {}
    void commit() override {}
    void waitUntilScheduled() override {}
    void waitUntilCompleted() override {}
    std::vector<MTLCommandTraceEntry> debugTrace() const override { return {}; }
};

class DrawingDrawableTest : public ::testing::Test {
protected:
    void SetUp() override { device()->setSynchronousCommandExecution(true); }
    void TearDown() override {
        MainQueue::runUntilIdle();
        device()->setSynchronousCommandExecution(false);
    }

    std::shared_ptr<DisplayViewModel> model = std::make_shared<DisplayViewModel>();
    Renderer::Settings settings{device(), MTLPixelFormat::bgra8Unorm};
    MTLRenderPassDescriptor pass;
};

TEST_F(DrawingDrawableTest, PipelineFromTheLibrarysCanvasFunctions) {
    DrawingDrawable drawable(settings, model, {100, 50, 1});
    const auto& d = drawable.renderPipelineState()->descriptor();
    EXPECT_EQ(d.label, "DrawingDrawable pipeline");
    EXPECT_EQ(d.vertexFunction->name(), "vertexFunc");
    EXPECT_EQ(d.fragmentFunction->name(), "fragmentFunc");
    EXPECT_EQ(d.colorAttachments[0].pixelFormat, MTLPixelFormat::bgra8Unorm);
    EXPECT_FALSE(d.colorAttachments[0].blendingEnabled);
    EXPECT_EQ(drawable.drawCounter(), 0);
}

TEST_F(DrawingDrawableTest, EncodesTheQuadTransformAndFlagInOrder) {
    DrawingDrawable drawable(settings, model, {100, 50, 1});
    RecordingBuffer buffer;
    auto canvasTexture = texture(100, 50, MTLPixelFormat::rgba8Unorm);
    drawable.render(canvasTexture, {0, 0, 99.9, 50.5, -1, 1}, pass, buffer);
    ASSERT_EQ(buffer.encoders.size(), 1u);
    const auto& e = *buffer.encoders[0];
    EXPECT_EQ(e.label_, "Canvas render encoder #1");
    EXPECT_TRUE(e.ended);
    EXPECT_EQ(e.calls,
              (std::vector<std::string>{"viewport", "pipeline", "vertexBytes 0 96",
                                        "vertexBytes 1 8", "vertexBytes 2 48", "fragmentTexture 1",
                                        "fragmentBytes 0 1", "draw 0 6"}));
    EXPECT_EQ(e.viewport, (MTLViewport{0, 0, 99.9, 50.5, -1, 1}));
    EXPECT_EQ(e.pipeline, drawable.renderPipelineState());
    EXPECT_EQ(e.fragmentTexture, canvasTexture);

    int32_t size[2];
    std::memcpy(size, e.vertexBytes.at(1).data(), 8);
    EXPECT_EQ(size[0], 99);
    EXPECT_EQ(size[1], 50);
    float quad[24];
    std::memcpy(quad, e.vertexBytes.at(0).data(), 96);
    EXPECT_EQ(std::vector<float>(quad, quad + 24),
              (std::vector<float>{100, 50, 1, 1, 0, 50, 0, 1, 0,   0, 0, 0,
                                  100, 50, 1, 1, 0, 0,  0, 0, 100, 0, 1, 0}));
    simd_float3x3 m;
    std::memcpy(&m, e.vertexBytes.at(2).data(), 48);
    EXPECT_EQ(m.columns[0][0], 1);
    EXPECT_EQ(m.columns[0][1], 0);
    EXPECT_EQ(m.columns[0][2], 0);
    EXPECT_EQ(m.columns[1][1], 1);
    EXPECT_EQ(m.columns[2][2], 1);
    EXPECT_EQ(e.fragmentBytes, std::vector<uint8_t>{0});
}

TEST_F(DrawingDrawableTest, MagnifiedOnlyAboveScaleFour) {
    DrawingDrawable drawable(settings, model, {8, 8, 1});
    auto canvasTexture = texture(8, 8, MTLPixelFormat::rgba8Unorm);
    for (const auto& [scale, flag] :
         std::vector<std::pair<double, uint8_t>>{{4.0, 0}, {4.001, 1}, {1.0, 0}, {120, 1}}) {
        model->restoreTransform(CGAffineTransform::makeScale(scale, scale).rotated(0.3));
        RecordingBuffer buffer;
        drawable.render(canvasTexture, {0, 0, 16, 16, -1, 1}, pass, buffer);
        EXPECT_EQ(buffer.encoders[0]->fragmentBytes, std::vector<uint8_t>{flag}) << scale;
    }
}

TEST_F(DrawingDrawableTest, NoTextureEncodesAnEmptyPassAndStillCounts) {
    DrawingDrawable drawable(settings, model, {8, 8, 1});
    RecordingBuffer buffer;
    drawable.render(nullptr, {0, 0, 8, 8, -1, 1}, pass, buffer);
    drawable.render(texture(8, 8, MTLPixelFormat::rgba8Unorm), {0, 0, 8, 8, -1, 1}, pass, buffer);
    ASSERT_EQ(buffer.encoders.size(), 2u);
    EXPECT_EQ(buffer.encoders[0]->label_, "Empty rendering with no layer");
    EXPECT_TRUE(buffer.encoders[0]->calls.empty());
    EXPECT_TRUE(buffer.encoders[0]->ended);
    EXPECT_EQ(buffer.encoders[1]->label_, "Canvas render encoder #2");
    EXPECT_EQ(drawable.drawCounter(), 2);
}

// Draws the canvas through the real pipeline into a drawable-sized target and
// returns the target's rows, top first.
std::vector<uint8_t> drawOnce(DrawingDrawable& drawable, const std::shared_ptr<MTLTexture>& source,
                              int64_t w, int64_t h) {
    auto target = texture(w, h, MTLPixelFormat::rgba8Unorm,
                          MTLTextureUsage::renderTarget | MTLTextureUsage::shaderRead);
    MTLRenderPassDescriptor pass;
    pass.colorAttachments[0].texture = target;
    pass.colorAttachments[0].loadAction = MTLLoadAction::clear;
    pass.colorAttachments[0].clearColor = {0, 0, 0, 0};
    auto buffer = device()->newCommandQueue()->commandBuffer();
    drawable.render(source, {0, 0, double(w), double(h), -1, 1}, pass, *buffer);
    buffer->commit();
    buffer->waitUntilCompleted();
    std::vector<uint8_t> out(static_cast<size_t>(w * h * 4));
    target->getBytes(out.data(), w * 4, MTLRegionMake2D(0, 0, w, h), 0);
    return out;
}

TEST_F(DrawingDrawableTest, IdentityCoversExactlyTheCanvasPixelsTexelForTexel) {
    const int64_t cw = 100, ch = 50, fw = 104, fh = 53;
    const auto bytes = opaquePattern(cw, ch);
    settings.colorPixelFormat = MTLPixelFormat::rgba8Unorm;
    DrawingDrawable drawable(settings, model, {cw, ch, 1});
    const auto out = drawOnce(drawable, canvas(cw, ch, bytes), fw, fh);
    int wrong = 0;
    for (int64_t j = 0; j < fh; ++j) {     // framebuffer row from the bottom
        for (int64_t i = 0; i < fw; ++i) { // framebuffer column
            const uint8_t* px = out.data() + ((fh - 1 - j) * fw + i) * 4;
            const bool inside = i < cw && j < ch;
            const uint8_t* want = inside ? bytes.data() + (j * cw + i) * 4 : nullptr;
            for (int k = 0; k < 4; ++k) {
                wrong += (inside ? px[k] != want[k] : px[k] != 0) ? 1 : 0;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(DrawingDrawableTest, QuarterTurnsAtScaleOneStayTexelExact) {
    const int64_t n = 16;
    const auto bytes = opaquePattern(n, n);
    settings.colorPixelFormat = MTLPixelFormat::rgba8Unorm;
    DrawingDrawable drawable(settings, model, {n, n, 1});
    const auto source = canvas(n, n, bytes);
    for (const CGFloat degrees : {90.0, 180.0, 270.0}) {
        model->restoreTransform(CGAffineTransform::identity());
        model->rotate(degrees, {8, 8}, true);
        const auto out = drawOnce(drawable, source, n, n);
        const auto inverse = model->transform().inverted();
        int wrong = 0;
        for (int64_t j = 0; j < n; ++j) {
            for (int64_t i = 0; i < n; ++i) {
                const CGPoint c = inverse.apply(CGPoint{i + 0.5, j + 0.5});
                const int64_t x = static_cast<int64_t>(std::floor(c.x));
                const int64_t y = static_cast<int64_t>(std::floor(c.y));
                wrong += std::memcmp(out.data() + ((n - 1 - j) * n + i) * 4,
                                     bytes.data() + (y * n + x) * 4, 4) != 0;
            }
        }
        EXPECT_EQ(wrong, 0) << degrees;
    }
}

TEST_F(DrawingDrawableTest, HeadlessFrameShowsTheCanvasRightSideUp) {
    // Bottom half red, top half blue, with a green texel at the bottom-left corner.
    const int64_t w = 8, h = 4;
    std::vector<uint8_t> bytes(static_cast<size_t>(w * h * 4));
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            uint8_t* p = bytes.data() + (y * w + x) * 4;
            p[0] = y < 2 ? 255 : 0;
            p[2] = y < 2 ? 0 : 255;
            p[3] = 255;
        }
    }
    bytes[0] = 0, bytes[1] = 255;
    const auto source = canvas(w, h, bytes);

    struct Client : RendererDrawable {
        std::shared_ptr<DrawingDrawable> drawable;
        std::shared_ptr<MTLTexture> source;
        void render(MTLViewport viewport, const MTLRenderPassDescriptor& pass,
                    const std::shared_ptr<MTLCommandBuffer>& buffer) override {
            drawable->render(source, viewport, pass, *buffer);
        }
    };
    auto host = std::make_shared<HeadlessViewHost>();
    auto view = MTKView::make(device());
    view->setHost(host);
    view->setDrawableSize({double(w), double(h)});
    auto renderer = Renderer::make(view, device());
    auto client = std::make_shared<Client>();
    client->drawable =
        std::make_shared<DrawingDrawable>(renderer->settings(), model, MTLSize{w, h, 1});
    client->source = source;
    renderer->drawables.emplace_back(client);
    MainQueue::runUntilIdle();

    const auto frame = host->lastFrame();
    ASSERT_NE(frame, nullptr);
    const auto rgb = [&](int64_t row, int64_t col) {
        const uint8_t* p = frame->row(row) + col * 4;
        return std::vector<int>{p[0], p[1], p[2]};
    };
    EXPECT_EQ(rgb(0, 3), (std::vector<int>{0, 0, 255})) << "top of the frame is the canvas top";
    EXPECT_EQ(rgb(3, 3), (std::vector<int>{255, 0, 0}));
    EXPECT_EQ(rgb(3, 0), (std::vector<int>{0, 255, 0})) << "canvas origin at the bottom left";
    EXPECT_EQ(rgb(0, 0), (std::vector<int>{0, 0, 255}));
}

} // namespace

namespace {

TEST_F(DrawingDrawableTest, ReducedCanvasDoesNotAlias) {
    // One-texel checkerboard shown at a quarter of its size, turned: every pixel
    // covers many texels and must come out mid grey, not black or white.
    const int64_t n = 64;
    std::vector<uint8_t> bytes(size_t(n * n * 4));
    for (int64_t y = 0; y < n; ++y) {
        for (int64_t x = 0; x < n; ++x) {
            const uint8_t v = (x + y) % 2 ? 255 : 0;
            uint8_t* p = bytes.data() + (y * n + x) * 4;
            p[0] = p[1] = p[2] = v;
            p[3] = 255;
        }
    }
    settings.colorPixelFormat = MTLPixelFormat::rgba8Unorm;
    DrawingDrawable drawable(settings, model, {n, n, 1});
    model->resetTransform({16, 16}, {double(n), double(n)}, false);
    model->magnify(0.25, {32, 32}, true);
    model->rotate(20, {32, 32}, true);
    const auto out = drawOnce(drawable, canvas(n, n, bytes), 16, 16);
    int far = 0;
    for (int64_t y = 6; y < 10; ++y) {
        for (int64_t x = 6; x < 10; ++x) {
            far += std::abs(int(out[size_t((y * 16 + x) * 4)]) - 128) > 12 ? 1 : 0;
        }
    }
    EXPECT_EQ(far, 0);
}

} // namespace

namespace {

// A view drawn frame after frame redraws only the rows whose texels changed; each
// frame must still equal a whole draw of the same canvas into a fresh target.
TEST_F(DrawingDrawableTest, RedrawInPartEqualsAWholeDraw) {
    const int64_t n = 64, fw = 40, fh = 30;
    settings.colorPixelFormat = MTLPixelFormat::rgba8Unorm;
    struct View {
        const char* name;
        double scale, degrees;
    };
    for (const View& v :
         {View{"bilinear turned", 0.6, 17}, View{"area", 0.4, 0}, View{"area turned", 0.3, 33},
          View{"magnified", 5, 10}, View{"texel for texel", 1, 0}}) {
        DrawingDrawable drawable(settings, model, {n, n, 1});
        model->resetTransform({double(fw), double(fh)}, {double(n), double(n)}, false);
        model->magnify(v.scale, {32, 32}, true);
        model->rotate(v.degrees, {32, 32}, true);
        auto bytes = opaquePattern(n, n);
        const auto source = canvas(n, n, bytes);
        auto target = texture(fw, fh, MTLPixelFormat::rgba8Unorm,
                              MTLTextureUsage::renderTarget | MTLTextureUsage::shaderRead);
        const auto frame = [&](const std::shared_ptr<MTLTexture>& into) {
            MTLRenderPassDescriptor pass;
            pass.colorAttachments[0].texture = into;
            pass.colorAttachments[0].loadAction = MTLLoadAction::clear;
            pass.colorAttachments[0].clearColor = {0.2, 0.4, 0.6, 1};
            auto buffer = device()->newCommandQueue()->commandBuffer();
            drawable.render(source, {0, 0, double(fw), double(fh), -1, 1}, pass, *buffer);
            buffer->commit();
            buffer->waitUntilCompleted();
            std::vector<uint8_t> out(size_t(fw * fh * 4));
            into->getBytes(out.data(), fw * 4, MTLRegionMake2D(0, 0, fw, fh), 0);
            return out;
        };
        frame(target);
        // Changes told by region: small, at the corner, along an edge, none, whole rows.
        for (const MTLRegion& r : {MTLRegionMake2D(30, 30, 3, 2), MTLRegionMake2D(0, 0, 2, 2),
                                   MTLRegionMake2D(63, 10, 1, 40), MTLRegionMake2D(5, 5, 0, 0),
                                   MTLRegionMake2D(0, 20, 64, 6)}) {
            std::vector<uint8_t> patch(size_t(r.size.width * r.size.height * 4), 0);
            for (size_t i = 0; i < patch.size(); ++i) {
                patch[i] = uint8_t(i * 37 + 11);
            }
            const uint64_t before = target->contentGeneration();
            if (r.size.width > 0) {
                source->replaceRegion(r, 0, patch.data(), r.size.width * 4);
            }
            const auto again = frame(target);
            const auto fresh =
                frame(texture(fw, fh, MTLPixelFormat::rgba8Unorm, MTLTextureUsage::renderTarget));
            EXPECT_EQ(again, fresh) << v.name << " " << r.origin.x << "," << r.origin.y;
            const auto redrawn = target->changedSince(before);
            ASSERT_TRUE(redrawn.has_value()) << v.name << ": the redraw tells its rows";
            EXPECT_LT(redrawn->size.height, fh) << v.name << ": not the whole view";
        }
    }
}

TEST_F(DrawingDrawableTest, AnotherPassOrAWrittenTargetIsDrawnWhole) {
    const int64_t n = 16;
    settings.colorPixelFormat = MTLPixelFormat::rgba8Unorm;
    DrawingDrawable drawable(settings, model, {n, n, 1});
    model->restoreTransform(CGAffineTransform::makeScale(0.5, 0.5));
    const auto source = canvas(n, n, opaquePattern(n, n));
    auto target = texture(n, n, MTLPixelFormat::rgba8Unorm,
                          MTLTextureUsage::renderTarget | MTLTextureUsage::shaderRead);
    const auto frame = [&](MTLClearColor clear) {
        MTLRenderPassDescriptor pass;
        pass.colorAttachments[0].texture = target;
        pass.colorAttachments[0].loadAction = MTLLoadAction::clear;
        pass.colorAttachments[0].clearColor = clear;
        auto buffer = device()->newCommandQueue()->commandBuffer();
        drawable.render(source, {0, 0, double(n), double(n), -1, 1}, pass, *buffer);
        buffer->commit();
        buffer->waitUntilCompleted();
        std::vector<uint8_t> out(size_t(n * n * 4));
        target->getBytes(out.data(), n * 4, MTLRegionMake2D(0, 0, n, n), 0);
        return out;
    };
    const auto first = frame({0, 0, 0, 1});
    // Scribbled on by someone else: the next frame does not trust what it holds.
    std::vector<uint8_t> junk(size_t(n * n * 4), 77);
    target->replaceRegion(MTLRegionMake2D(0, 0, n, n), 0, junk.data(), n * 4);
    EXPECT_EQ(frame({0, 0, 0, 1}), first);
    // Another clear colour is another pass.
    const auto red = frame({1, 0, 0, 1});
    EXPECT_EQ(red[size_t(((n - 1) * n + n - 1) * 4)], 255) << "background redrawn";
    // Another transform too.
    model->restoreTransform(CGAffineTransform::identity());
    std::vector<uint8_t> whole = frame({1, 0, 0, 1});
    EXPECT_EQ(std::memcmp(whole.data() + (n - 1) * n * 4, opaquePattern(n, n).data(), 4), 0)
        << "canvas origin at the bottom left, texel for texel";
}

} // namespace
