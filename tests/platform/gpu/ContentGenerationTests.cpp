#include "GPUTestSupport.hpp"
#include "gpu/MTLRenderPassDescriptor.hpp"

#include <array>
#include <functional>
#include <gtest/gtest.h>
#include <string>

using namespace velmora;

namespace {

struct UInt2 {
    uint32_t x, y;
};

class ContentGeneration : public ::testing::Test {
protected:
    void SetUp() override {
        test::device()->setSynchronousCommandExecution(true);
        queue = test::device()->newCommandQueue();
    }
    void TearDown() override { test::device()->setSynchronousCommandExecution(false); }

    std::shared_ptr<MTLTexture> target() {
        return test::makeTexture(8, 4, MTLPixelFormat::rgba8Unorm, MTLStorageMode::shared,
                                 MTLTextureUsage::shaderReadWrite | MTLTextureUsage::renderTarget);
    }

    std::shared_ptr<MTLCommandQueue> queue;
};

// A cache keyed on the count is only sound if no path changes pixels without moving it.
TEST_F(ContentGeneration, EveryWritePathMovesTheCount) {
    using Write = std::function<void(const std::shared_ptr<MTLTexture>&)>;
    const std::vector<std::pair<std::string, Write>> writes = {
        {"replaceRegion",
         [](const auto& t) {
             const std::array<uint8_t, 4> pixel{1, 2, 3, 4};
             t->replaceRegion(MTLRegionMake2D(3, 1, 1, 1), 0, pixel.data(), 4);
         }},
        {"host view", [](const auto& t) { t->contents().row(2)[5] = 9; }},
        {"blit copy into it",
         [this](const auto& t) {
             auto source = test::makeTexture(8, 4);
             auto cb = queue->commandBuffer();
             auto e = cb->blitCommandEncoder();
             e->copyFromTexture(source, t);
             e->endEncoding();
             cb->commit();
             cb->waitUntilCompleted();
         }},
        {"fill kernel",
         [this](const auto& t) {
             auto library = test::device()->newDefaultLibrary();
             auto fill = test::device()->newComputePipelineState(library->newFunction("fill"));
             const std::array<float, 4> colour{1, 0, 0, 1};
             const UInt2 origin{0, 0}, size{8, 4};
             auto cb = queue->commandBuffer();
             auto e = cb->computeCommandEncoder();
             e->setComputePipelineState(fill);
             e->setTexture(t, 0);
             e->setBytes(colour.data(), 16, 1);
             e->setBytes(&origin, 8, 2);
             e->setBytes(&size, 8, 3);
             e->dispatchThreadgroups({1, 1, 1}, {16, 16, 1});
             e->endEncoding();
             cb->commit();
             cb->waitUntilCompleted();
         }},
        {"clearing render pass",
         [this](const auto& t) {
             MTLRenderPassDescriptor pass;
             pass.colorAttachments[0].texture = t;
             pass.colorAttachments[0].loadAction = MTLLoadAction::clear;
             auto cb = queue->commandBuffer();
             cb->renderCommandEncoder(pass)->endEncoding();
             cb->commit();
             cb->waitUntilCompleted();
         }},
        {"host command",
         [this](const auto& t) {
             auto cb = queue->commandBuffer();
             cb->encodeHostCommand("write", [t] { t->contents().data[0] = 7; }, {t});
             cb->commit();
             cb->waitUntilCompleted();
         }},
    };
    for (const auto& [name, write] : writes) {
        auto t = target();
        const uint64_t before = t->contentGeneration();
        write(t);
        EXPECT_NE(t->contentGeneration(), before) << name;
    }
}

TEST_F(ContentGeneration, ReadsLeaveTheCount) {
    auto t = target();
    test::writeAll(*t, test::pattern(8 * 4 * 4));
    auto copy = target();
    const uint64_t before = t->contentGeneration();
    std::vector<uint8_t> bytes(8 * 4 * 4);
    t->getBytes(bytes.data(), 32, MTLRegionMake2D(0, 0, 8, 4), 0);
    (void)t->contentsForReading();
    auto cb = queue->commandBuffer();
    auto e = cb->blitCommandEncoder();
    e->copyFromTexture(t, copy);
    e->endEncoding();
    cb->commit();
    cb->waitUntilCompleted();
    EXPECT_EQ(t->contentGeneration(), before);
    EXPECT_EQ(test::readAll(*copy), test::readAll(*t));
}

} // namespace
