#include "GPUTestSupport.hpp"
#include "gpu/MPSImageConversion.hpp"
#include "gpu/MTLError.hpp"
#include "gpu/cpu/KernelLibrary.hpp"
#include "gpu/cpu/PixelIO.hpp"
#include "gpu/cpu/Workers.hpp"

#include <array>
#include <cstring>
#include <gtest/gtest.h>

using namespace velmora;

namespace {

struct UInt2 {
    uint32_t x, y;
};

class ComputeTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::device()->setSynchronousCommandExecution(true);
        library = test::device()->newDefaultLibrary();
        fill = test::device()->newComputePipelineState(library->newFunction("fill"));
        queue = test::device()->newCommandQueue();
    }
    void TearDown() override {
        cpu::setWorkerThreadCount(0);
        test::device()->setSynchronousCommandExecution(false);
    }

    // The fill kernel bound as the GPU service binds it, over 16 x 16 groups.
    void encodeFill(MTLCommandBuffer& cb, const std::shared_ptr<MTLTexture>& t,
                    std::array<float, 4> colour, UInt2 origin, UInt2 size) {
        auto e = cb.computeCommandEncoder();
        e->setComputePipelineState(fill);
        e->setTexture(t, 0);
        e->setBytes(colour.data(), 16, 1);
        e->setBytes(&origin, 8, 2);
        e->setBytes(&size, 8, 3);
        e->dispatchThreadgroups({(t->width() + 15) / 16, (t->height() + 15) / 16, 1}, {16, 16, 1});
        e->endEncoding();
    }

    std::shared_ptr<MTLLibrary> library;
    std::shared_ptr<MTLComputePipelineState> fill;
    std::shared_ptr<MTLCommandQueue> queue;
};

std::array<uint8_t, 4> pixelAt(const std::vector<uint8_t>& bytes, int64_t width, int64_t x,
                               int64_t y) {
    const auto* p = bytes.data() + (y * width + x) * 4;
    return {p[0], p[1], p[2], p[3]};
}

TEST_F(ComputeTest, FillWritesTheRegionClippedToTheTextureOnly) {
    auto t = test::makeTexture(100, 50);
    auto cb = queue->commandBuffer();
    encodeFill(*cb, t, {0, 0, 1, 1}, {0, 0}, {100, 50});
    // Overhangs the right and bottom edges.
    encodeFill(*cb, t, {1, 0.5f, 0, 1}, {90, 40}, {30, 30});
    cb->commit();
    const auto bytes = test::readAll(*t);
    for (int64_t y = 0; y < 50; ++y) {
        for (int64_t x = 0; x < 100; ++x) {
            const bool inside = x >= 90 && y >= 40;
            const std::array<uint8_t, 4> want = inside ? std::array<uint8_t, 4>{255, 128, 0, 255}
                                                       : std::array<uint8_t, 4>{0, 0, 255, 255};
            ASSERT_EQ(pixelAt(bytes, 100, x, y), want) << x << "," << y;
        }
    }
    const auto trace = cb->debugTrace();
    ASSERT_EQ(trace.size(), 4u);
    EXPECT_EQ(trace[1].kind, MTLCommandTraceEntry::Kind::dispatch);
    EXPECT_EQ(trace[1].label, "fill");
    EXPECT_EQ(trace[1].threadgroups, (MTLSize{7, 4, 1}));
    EXPECT_EQ(trace[1].threadsPerThreadgroup, (MTLSize{16, 16, 1}));
}

TEST_F(ComputeTest, FillStoresTheColourInEachPixelFormat) {
    struct Case {
        MTLPixelFormat format;
        std::vector<uint8_t> pixel;
    };
    const std::array<float, 4> colour{1.0f, 0.5f, 0.25f, 0.75f};
    auto floats = [](std::initializer_list<float> f) {
        std::vector<uint8_t> b(f.size() * 4);
        std::memcpy(b.data(), f.begin(), b.size());
        return b;
    };
    const Case cases[] = {
        {MTLPixelFormat::rgba8Unorm, {255, 128, 64, 191}},
        {MTLPixelFormat::bgra8Unorm, {64, 128, 255, 191}},
        {MTLPixelFormat::rgba32Float, floats({1.0f, 0.5f, 0.25f, 0.75f})},
        {MTLPixelFormat::rgba16Float, {0x00, 0x3c, 0x00, 0x38, 0x00, 0x34, 0x00, 0x3a}},
        {MTLPixelFormat::r8Unorm, {255}},
    };
    for (const auto& c : cases) {
        auto t = test::makeTexture(3, 2, c.format);
        auto cb = queue->commandBuffer();
        encodeFill(*cb, t, colour, {0, 0}, {3, 2});
        cb->commit();
        const auto bytes = test::readAll(*t);
        for (size_t i = 0; i < bytes.size(); i += c.pixel.size()) {
            ASSERT_EQ(std::vector<uint8_t>(bytes.begin() + i, bytes.begin() + i + c.pixel.size()),
                      c.pixel)
                << static_cast<int>(c.format);
        }
    }
}

TEST_F(ComputeTest, LongSpansKeepThePixelPatternAtAnyAlignment) {
    struct Case {
        MTLPixelFormat format;
        int64_t width;
        UInt2 origin, size;
    };
    // Rows of 504 bytes put the first filled byte 8 bytes off a 16-byte boundary.
    const Case cases[] = {{MTLPixelFormat::rgba16Float, 63, {0, 3}, {63, 61}},
                          {MTLPixelFormat::rgba32Float, 64, {0, 0}, {64, 64}},
                          {MTLPixelFormat::rgba8Unorm, 64, {0, 1}, {64, 50}}};
    for (const auto& c : cases) {
        auto t = test::makeTexture(c.width, 64, c.format);
        auto cb = queue->commandBuffer();
        encodeFill(*cb, t, {0.25f, 0.5f, 0.75f, 1.0f}, {0, 0}, {64, 64});
        encodeFill(*cb, t, {1.0f, 0.125f, 0.0f, 0.5f}, c.origin, c.size);
        cb->commit();
        const auto bytes = test::readAll(*t);
        const int64_t bpp = test::bytesPerPixel(*t);
        std::vector<uint8_t> inner(bpp), outer(bpp);
        const auto layout = *cpu::pixelLayout(c.format);
        const float in[4] = {1.0f, 0.125f, 0.0f, 0.5f}, out[4] = {0.25f, 0.5f, 0.75f, 1.0f};
        cpu::storeRow(layout, in, inner.data(), 1);
        cpu::storeRow(layout, out, outer.data(), 1);
        for (int64_t y = 0; y < 64; ++y) {
            for (int64_t x = 0; x < c.width; ++x) {
                const bool inside = y >= c.origin.y && y < c.origin.y + c.size.y;
                ASSERT_EQ(std::memcmp(&bytes[(y * c.width + x) * bpp],
                                      (inside ? inner : outer).data(), bpp),
                          0)
                    << static_cast<int>(c.format) << " " << x << "," << y;
            }
        }
    }
}

TEST_F(ComputeTest, ClearingReleasesMemoryAndReadsAsZero) {
    auto t = test::makeTexture(512, 512, MTLPixelFormat::rgba32Float, MTLStorageMode::private_);
    EXPECT_EQ(t->allocatedSize(), 0u);
    auto cb = queue->commandBuffer();
    encodeFill(*cb, t, {1, 1, 1, 1}, {0, 0}, {512, 512});
    cb->commit();
    EXPECT_GE(t->allocatedSize(), 512u * 512u * 16u * 9 / 10);
    cb = queue->commandBuffer();
    encodeFill(*cb, t, {0, 0, 0, 0}, {0, 0}, {512, 512});
    cb->commit();
    EXPECT_LT(t->allocatedSize(), 512u * 512u * 16u / 10);
    const auto c = t->contents();
    for (int64_t y = 0; y < 512; y += 37) {
        for (int64_t i = 0; i < c.bytesPerRow; ++i) {
            ASSERT_EQ(c.row(y)[i], 0);
        }
    }
}

TEST_F(ComputeTest, BindingsAreCapturedWhenTheDispatchIsEncoded) {
    auto t = test::makeTexture(4, 4);
    auto cb = queue->commandBuffer();
    auto e = cb->computeCommandEncoder();
    e->setComputePipelineState(fill);
    e->setTexture(t, 0);
    std::array<float, 4> colour{1, 0, 0, 1};
    UInt2 origin{0, 0}, size{4, 2};
    e->setBytes(colour.data(), 16, 1);
    e->setBytes(&origin, 8, 2);
    e->setBytes(&size, 8, 3);
    e->dispatchThreadgroups({1, 1, 1}, {16, 16, 1});
    colour = {0, 1, 0, 1};
    origin = {0, 2};
    e->setBytes(colour.data(), 16, 1);
    e->setBytes(&origin, 8, 2);
    colour = {0, 0, 0, 0}; // changing the caller's bytes after setBytes has no effect
    e->dispatchThreadgroups({1, 1, 1}, {16, 16, 1});
    e->endEncoding();
    cb->commit();
    const auto bytes = test::readAll(*t);
    EXPECT_EQ(pixelAt(bytes, 4, 3, 1), (std::array<uint8_t, 4>{255, 0, 0, 255}));
    EXPECT_EQ(pixelAt(bytes, 4, 0, 3), (std::array<uint8_t, 4>{0, 255, 0, 255}));
}

TEST_F(ComputeTest, FunctionConstantsSpecialiseAKernel) {
    static bool registered = [] {
        cpu::ComputeKernel k;
        k.requiredConstants = {{0, MTLDataType::int_}};
        k.run = [](const cpu::ComputeArguments& a, const cpu::ThreadRect& r) {
            const auto c = a.table.texture(0);
            const auto add = static_cast<uint8_t>(*a.constants.intValue(0));
            for (int64_t y = r.y0; y < r.y1; ++y) {
                for (int64_t x = r.x0; x < r.x1; ++x) {
                    c.row(y)[x * 4] += add;
                }
            }
        };
        cpu::KernelLibrary::shared().addKernel("test.addConstant", std::move(k));
        return true;
    }();
    ASSERT_TRUE(registered);
    EXPECT_THROW(library->newFunction("test.addConstant", MTLFunctionConstantValues{}), MTLError);
    EXPECT_THROW(library->newFunction("missing", MTLFunctionConstantValues{}), MTLError);
    EXPECT_EQ(library->newFunction("missing"), nullptr);
    MTLFunctionConstantValues wrongType;
    const float f = 1;
    wrongType.setConstantValue(&f, MTLDataType::float_, 0);
    EXPECT_THROW(library->newFunction("test.addConstant", wrongType), MTLError);

    auto t = test::makeTexture(20, 3);
    std::vector<std::shared_ptr<MTLComputePipelineState>> pipelines;
    for (int32_t n : {5, 7}) {
        MTLFunctionConstantValues values;
        values.setConstantValue(&n, MTLDataType::int_, 0);
        pipelines.push_back(test::device()->newComputePipelineState(
            library->newFunction("test.addConstant", values)));
    }
    auto cb = queue->commandBuffer();
    auto e = cb->computeCommandEncoder();
    e->setTexture(t, 0);
    for (const auto& p : pipelines) {
        e->setComputePipelineState(p);
        e->dispatchThreadgroups({2, 1, 1}, {16, 16, 1}); // 32 x 16 threads, clipped to 20 x 3
    }
    e->endEncoding();
    cb->commit();
    const auto bytes = test::readAll(*t);
    for (size_t i = 0; i < bytes.size(); i += 4) {
        ASSERT_EQ(bytes[i], 12);
        ASSERT_EQ(bytes[i + 1], 0);
    }
}

TEST_F(ComputeTest, ResultsDoNotDependOnTheNumberOfWorkers) {
    auto run = [&](int workers) {
        cpu::setWorkerThreadCount(workers);
        EXPECT_EQ(cpu::workerThreadCount(), workers);
        auto t = test::makeTexture(61, 64, MTLPixelFormat::rgba16Float);
        auto cb = queue->commandBuffer();
        for (uint32_t i = 0; i < 12; ++i) {
            encodeFill(*cb, t, {i / 11.0f, 1.0f / (i + 1), 0.3f, 1.0f - i / 13.0f}, {i * 5, i * 3},
                       {17 + i, 40 - i});
        }
        // A conversion with an offset reads across row bands.
        auto converted = test::makeTexture(50, 60);
        MPSImageConversion conversion(test::device(), MPSAlphaType::nonPremultiplied,
                                      MPSAlphaType::premultiplied, std::nullopt, std::nullopt);
        conversion.setOffset({7, 3, 0});
        conversion.encode(*cb, t, converted);
        cb->commit();
        auto bytes = test::readAll(*t);
        const auto more = test::readAll(*converted);
        bytes.insert(bytes.end(), more.begin(), more.end());
        return bytes;
    };
    const auto one = run(1);
    EXPECT_EQ(run(8), one);
    EXPECT_EQ(run(3), one);
}

using ComputeDeathTest = ComputeTest;

TEST_F(ComputeDeathTest, OversizedInlineBytesStopTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::vector<uint8_t> bytes(4097);
    EXPECT_DEATH(
        {
            auto e = queue->commandBuffer()->computeCommandEncoder();
            e->setBytes(bytes.data(), bytes.size(), 2);
        },
        "at most 4096 bytes");
    EXPECT_DEATH(
        {
            auto e = queue->commandBuffer()->computeCommandEncoder();
            e->dispatchThreadgroups({1, 1, 1}, {16, 16, 1});
        },
        "without a compute pipeline state");
}

} // namespace

#if defined(__SANITIZE_ADDRESS__)
namespace {

TEST_F(ComputeDeathTest, AKernelStrayingOutsideItsTextureIsCaught) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    static const bool registered = [] {
        cpu::ComputeKernel k;
        k.run = [](const cpu::ComputeArguments& a, const cpu::ThreadRect&) {
            const auto c = a.table.texture(0);
            c.row(c.height)[0] = 1; // one row too far
        };
        cpu::KernelLibrary::shared().addKernel("test.overrun", std::move(k));
        return true;
    }();
    ASSERT_TRUE(registered);
    auto pipeline = test::device()->newComputePipelineState(library->newFunction("test.overrun"));
    auto t = test::makeTexture(4, 4);
    EXPECT_DEATH(
        {
            auto cb = queue->commandBuffer();
            auto e = cb->computeCommandEncoder();
            e->setComputePipelineState(pipeline);
            e->setTexture(t, 0);
            e->dispatchThreadgroups({1, 1, 1}, {4, 4, 1});
            e->endEncoding();
            cb->commit();
        },
        "heap-buffer-overflow");
}

} // namespace
#endif
