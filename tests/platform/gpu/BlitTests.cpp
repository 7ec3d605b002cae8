#include "GPUTestSupport.hpp"

#include <cstring>
#include <gtest/gtest.h>

using namespace velmora;

namespace {

class BlitTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::device()->setSynchronousCommandExecution(true);
        queue = test::device()->newCommandQueue();
    }
    void TearDown() override { test::device()->setSynchronousCommandExecution(false); }
    std::shared_ptr<MTLCommandQueue> queue;
};

TEST_F(BlitTest, CopiesARegionToAnOrigin) {
    auto src = test::makeTexture(8, 6);
    auto dst = test::makeTexture(5, 5);
    const auto s = test::pattern(8 * 6 * 4, 7);
    const auto d = test::pattern(5 * 5 * 4, 9);
    test::writeAll(*src, s);
    test::writeAll(*dst, d);
    auto cb = queue->commandBuffer();
    auto blit = cb->blitCommandEncoder();
    blit->copyFromTexture(src, 0, 0, {2, 1, 0}, {3, 4, 1}, dst, 0, 0, {1, 0, 0});
    blit->endEncoding();
    cb->commit();
    const auto out = test::readAll(*dst);
    for (int64_t y = 0; y < 5; ++y) {
        for (int64_t x = 0; x < 5; ++x) {
            const bool copied = x >= 1 && x < 4 && y < 4;
            const uint8_t* want = copied ? &s[((y + 1) * 8 + (x + 1)) * 4] : &d[(y * 5 + x) * 4];
            ASSERT_EQ(std::memcmp(&out[(y * 5 + x) * 4], want, 4), 0) << x << "," << y;
        }
    }
}

TEST_F(BlitTest, SynchronizeAndFillBuffer) {
    auto buffer = test::device()->newBuffer(16, MTLResourceOptions::storageModeShared);
    auto t = test::makeTexture(2, 2, MTLPixelFormat::rgba8Unorm, MTLStorageMode::managed);
    auto cb = queue->commandBuffer();
    auto blit = cb->blitCommandEncoder();
    blit->fillBuffer(buffer, {4, 8}, 0xab);
    blit->synchronizeResource(t);
    blit->endEncoding();
    cb->commit();
    const auto* b = static_cast<const uint8_t*>(buffer->contents());
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(b[i], (i >= 4 && i < 12) ? 0xab : 0) << i;
    }
}

class BlitDeathTest : public BlitTest {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        BlitTest::SetUp();
    }
};

TEST_F(BlitDeathTest, OutOfRangeOrMismatchedCopiesStopTheProgram) {
    auto a = test::makeTexture(8, 8);
    auto b = test::makeTexture(4, 4);
    auto f = test::makeTexture(8, 8, MTLPixelFormat::rgba32Float);
    struct Case {
        MTLOrigin from;
        MTLSize size;
        std::shared_ptr<MTLTexture> to;
        MTLOrigin at;
        const char* message;
    };
    const Case cases[] = {
        {{6, 0, 0}, {3, 1, 1}, b, {0, 0, 0}, "outside the source texture"},
        {{-1, 0, 0}, {1, 1, 1}, b, {0, 0, 0}, "outside the source texture"},
        {{0, 0, 0}, {4, 4, 1}, b, {1, 0, 0}, "outside the destination texture"},
        {{0, 0, 0}, {1, 1, 1}, b, {0, 4, 0}, "outside the destination texture"},
        {{0, 0, 0}, {2, 2, 1}, f, {0, 0, 0}, "different pixel formats"},
        {{0, 0, 0}, {4, 4, 1}, a, {2, 2, 0}, "overlapping regions"},
        {{0, 0, 0}, {1, 1, 2}, b, {0, 0, 0}, "invalid size"},
    };
    for (const auto& c : cases) {
        EXPECT_DEATH(
            {
                auto e = queue->commandBuffer()->blitCommandEncoder();
                e->copyFromTexture(a, 0, 0, c.from, c.size, c.to, 0, 0, c.at);
            },
            c.message);
    }
    EXPECT_DEATH(
        {
            auto e = queue->commandBuffer()->blitCommandEncoder();
            e->fillBuffer(test::device()->newBuffer(8, MTLResourceOptions::storageModeShared),
                          {4, 5}, 0);
        },
        "outside the buffer");
}

} // namespace
