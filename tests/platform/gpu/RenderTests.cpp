#include "GPUTestSupport.hpp"
#include "gpu/MTLError.hpp"
#include "gpu/cpu/KernelLibrary.hpp"
#include "gpu/cpu/TextureSampling.hpp"

#include <array>
#include <cstring>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

using namespace velmora;

namespace {

struct Vertex {
    float position[2]; // clip space
    float textureCoordinate[2];
};

void registerFunctions() {
    static const bool once = [] {
        auto& library = cpu::KernelLibrary::shared();
        library.addVertexFunction(
            "test.quadVertex",
            [](const cpu::ArgumentTable& args, uint32_t id) {
                const auto v = args.element<Vertex>(0, id);
                cpu::VertexOut out;
                out.position = {v.position[0], v.position[1], 0, 1};
                out.varyings[0] = v.textureCoordinate[0];
                out.varyings[1] = v.textureCoordinate[1];
                return out;
            },
            2);
        library.addFragmentFunction(
            "test.textureFragment",
            [](const cpu::ArgumentTable& args, const cpu::FragmentSpan& span, float* rgba) {
                const cpu::TextureSampler sampler(args.texture(1));
                for (int64_t i = 0; i < span.count; ++i) {
                    sampler.nearest(span.varyings[0] + span.varyingsStepX[0] * i,
                                    span.varyings[1] + span.varyingsStepX[1] * i, rgba + 4 * i);
                }
            });
        return true;
    }();
    (void)once;
}

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        registerFunctions();
        test::device()->setSynchronousCommandExecution(true);
        queue = test::device()->newCommandQueue();
        auto library = test::device()->newDefaultLibrary();
        MTLRenderPipelineDescriptor d;
        d.label = "test pipeline";
        d.vertexFunction = library->newFunction("test.quadVertex");
        d.fragmentFunction = library->newFunction("test.textureFragment");
        d.colorAttachments[0].pixelFormat = MTLPixelFormat::bgra8Unorm;
        pipeline = test::device()->newRenderPipelineState(d);
    }
    void TearDown() override { test::device()->setSynchronousCommandExecution(false); }

    std::shared_ptr<MTLTexture> attachment(int64_t w, int64_t h) {
        return test::makeTexture(w, h, MTLPixelFormat::bgra8Unorm, MTLStorageMode::managed,
                                 MTLTextureUsage::renderTarget | MTLTextureUsage::shaderRead);
    }

    void drawQuad(const std::shared_ptr<MTLTexture>& target, const std::shared_ptr<MTLTexture>& t,
                  std::optional<MTLViewport> viewport, MTLLoadAction load) {
        // Two triangles over the whole clip space; texture (0, 0) at the bottom left.
        const Vertex quad[6] = {{{1, 1}, {1, 1}}, {{-1, 1}, {0, 1}},  {{-1, -1}, {0, 0}},
                                {{1, 1}, {1, 1}}, {{-1, -1}, {0, 0}}, {{1, -1}, {1, 0}}};
        MTLRenderPassDescriptor pass;
        pass.colorAttachments[0].texture = target;
        pass.colorAttachments[0].loadAction = load;
        pass.colorAttachments[0].clearColor = {0, 0, 1, 1};
        auto cb = queue->commandBuffer();
        auto e = cb->renderCommandEncoder(pass);
        e->setLabel("Canvas render encoder #1");
        if (viewport) {
            e->setViewport(*viewport);
        }
        e->setRenderPipelineState(pipeline);
        e->setVertexBytes(quad, sizeof(quad), 0);
        e->setFragmentTexture(t, 1);
        e->drawPrimitives(MTLPrimitiveType::triangle, 0, 6);
        e->endEncoding();
        cb->commit();
        EXPECT_EQ(cb->debugTrace().at(0).label, "Canvas render encoder #1");
    }

    std::shared_ptr<MTLCommandQueue> queue;
    std::shared_ptr<MTLRenderPipelineState> pipeline;
};

TEST_F(RenderTest, TexturedQuadShowsRowZeroAtTheBottom) {
    auto source = test::makeTexture(7, 5, MTLPixelFormat::bgra8Unorm);
    const auto pixels = test::pattern(7 * 5 * 4, 4);
    test::writeAll(*source, pixels);
    auto target = attachment(7, 5);
    drawQuad(target, source, std::nullopt, MTLLoadAction::dontCare);
    const auto out = test::readAll(*target);
    // The attachment's first row is the top of the framebuffer.
    for (int64_t r = 0; r < 5; ++r) {
        EXPECT_EQ(std::memcmp(&out[r * 28], &pixels[(4 - r) * 28], 28), 0) << r;
    }
}

TEST_F(RenderTest, ViewportPlacesTheQuadAndClearKeepsTheRest) {
    auto source = test::makeTexture(2, 2, MTLPixelFormat::bgra8Unorm);
    test::writeAll(*source, std::vector<uint8_t>(16, 0x80));
    auto target = attachment(6, 4);
    drawQuad(target, source, MTLViewport{1, 1, 2, 2, 0, 1}, MTLLoadAction::clear);
    const auto out = test::readAll(*target);
    for (int64_t y = 0; y < 4; ++y) {
        for (int64_t x = 0; x < 6; ++x) {
            const uint8_t* p = &out[(y * 6 + x) * 4];
            const bool quad = x >= 1 && x < 3 && y >= 1 && y < 3;
            const std::array<uint8_t, 4> want = quad
                                                    ? std::array<uint8_t, 4>{0x80, 0x80, 0x80, 0x80}
                                                    : std::array<uint8_t, 4>{255, 0, 0, 255};
            EXPECT_EQ((std::array<uint8_t, 4>{p[0], p[1], p[2], p[3]}), want) << x << "," << y;
        }
    }
}

TEST_F(RenderTest, ClearReachesEveryPixelWhateverTheDrawCovers) {
    auto source = test::makeTexture(1, 1, MTLPixelFormat::bgra8Unorm);
    test::writeAll(*source, {10, 20, 30, 40});
    const std::vector<std::pair<const char*, MTLViewport>> cases = {
        {"viewport beside the attachment", {20, 0, 4, 4, 0, 1}},
        {"viewport over the top rows", {0, 0, 5, 2, 0, 1}},
        {"viewport with no size", {1, 1, 0, 0, 0, 1}},
    };
    for (const auto& [name, viewport] : cases) {
        auto target = attachment(5, 6);
        test::writeAll(*target, std::vector<uint8_t>(5 * 6 * 4, 77));
        drawQuad(target, source, viewport, MTLLoadAction::clear);
        const auto out = test::readAll(*target);
        for (int64_t y = 0; y < 6; ++y) {
            for (int64_t x = 0; x < 5; ++x) {
                const bool drawn = x >= viewport.originX && x < viewport.originX + viewport.width &&
                                   y >= viewport.originY && y < viewport.originY + viewport.height;
                EXPECT_EQ(out[(y * 5 + x) * 4], drawn ? 10 : 255) << name << " " << x << "," << y;
            }
        }
    }
}

TEST_F(RenderTest, TrianglesCoverEachPixelCentreOnce) {
    // A half-pixel-offset quad: only centres inside count, no gaps along the diagonal.
    auto source = test::makeTexture(1, 1, MTLPixelFormat::bgra8Unorm);
    test::writeAll(*source, {10, 20, 30, 40});
    auto target = attachment(16, 16);
    drawQuad(target, source, MTLViewport{0.5, 0.5, 15, 15, 0, 1}, MTLLoadAction::clear);
    const auto out = test::readAll(*target);
    for (int64_t y = 0; y < 16; ++y) {
        for (int64_t x = 0; x < 16; ++x) {
            const bool inside = x < 15 && y < 15;
            EXPECT_EQ(out[(y * 16 + x) * 4], inside ? 10 : 255) << x << "," << y;
        }
    }
}

TEST_F(RenderTest, PipelinesCheckTheirFunctions) {
    auto library = test::device()->newDefaultLibrary();
    MTLRenderPipelineDescriptor d;
    d.vertexFunction = library->newFunction("test.quadVertex");
    d.fragmentFunction = library->newFunction("fill");
    d.colorAttachments[0].pixelFormat = MTLPixelFormat::bgra8Unorm;
    EXPECT_THROW(test::device()->newRenderPipelineState(d), MTLError);
    d.fragmentFunction = library->newFunction("test.textureFragment");
    d.colorAttachments[0].pixelFormat = MTLPixelFormat::invalid;
    EXPECT_THROW(test::device()->newRenderPipelineState(d), MTLError);
    EXPECT_THROW(test::device()->newComputePipelineState(library->newFunction("test.quadVertex")),
                 MTLError);
}

} // namespace

namespace {

class RenderDeathTest : public RenderTest {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        RenderTest::SetUp();
    }
};

TEST_F(RenderDeathTest, ReadingPastTheBoundBytesStopsTheProgram) {
    auto source = test::makeTexture(1, 1, MTLPixelFormat::bgra8Unorm);
    auto target = attachment(4, 4);
    const Vertex three[3] = {{{-1, -1}, {0, 0}}, {{1, -1}, {1, 0}}, {{1, 1}, {1, 1}}};
    EXPECT_DEATH(
        {
            MTLRenderPassDescriptor pass;
            pass.colorAttachments[0].texture = target;
            auto cb = queue->commandBuffer();
            auto e = cb->renderCommandEncoder(pass);
            e->setRenderPipelineState(pipeline);
            e->setVertexBytes(three, sizeof(three), 0);
            e->setFragmentTexture(source, 1);
            e->drawPrimitives(MTLPrimitiveType::triangle, 0, 6);
            e->endEncoding();
            cb->commit();
        },
        "shorter than the function reads");
    EXPECT_DEATH(
        {
            MTLRenderPassDescriptor pass;
            pass.colorAttachments[0].texture = test::makeTexture(4, 4, MTLPixelFormat::bgra8Unorm);
            queue->commandBuffer()->renderCommandEncoder(pass);
        },
        "without render target usage");
}

} // namespace
