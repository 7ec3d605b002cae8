#include "MetalExtensions/MTLCommandBufferExtensions.hpp"
#include "MetalExtensions/MTLPixelFormatExtensions.hpp"
#include "MetalExtensions/MTLTextureExtensions.hpp"
#include "MetalExtensions/ShaderValueConversions.hpp"
#include "gpu/MTLDevice.hpp"

#include <array>
#include <cstring>
#include <gtest/gtest.h>

using namespace velmora;
using Kind = MTLCommandTraceEntry::Kind;

namespace {

TEST(MTLPixelFormatExtensions, NamesAndSampleWidths) {
    struct Case {
        uint64_t raw;
        const char* name;
        int bits;
    };
    const Case cases[] = {{70, "rgba8Unorm", 8},          {80, "bgra8Unorm", 8},
                          {115, "rgba16Float", 16},       {125, "rgba32Float", 32},
                          {90, "rgb10a2Unorm", 0},        {252, "depth32Float", 32},
                          {63, "rg16Uint", 16},           {0, "invalid", 0},
                          {71, "rgba8Unorm_srgb", 8},     {262, "x24_stencil8", 0},
                          {153, "bc7_rgbaUnorm_srgb", 0}, {253, "stencil8", 8}};
    for (const auto& c : cases) {
        const auto format = static_cast<MTLPixelFormat>(c.raw);
        EXPECT_EQ(description(format), c.name) << c.raw;
        EXPECT_EQ(bitsPerSample(format), c.bits) << c.raw;
    }
    EXPECT_EQ(description(MTLPixelFormat::depth24Unorm_stencil8), "depth24Unorm_stencil8");
}

TEST(MTLPixelFormatExtensionsDeathTest, UnknownRawValuesStopTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (uint64_t raw : {11, 31, 40, 43, 263, 1000}) {
        EXPECT_DEATH(description(static_cast<MTLPixelFormat>(raw)), "Fatal error") << raw;
        EXPECT_DEATH(bitsPerSample(static_cast<MTLPixelFormat>(raw)), "Fatal error") << raw;
    }
}

class EncoderHelpersTest : public ::testing::Test {
protected:
    void SetUp() override {
        device = MTLCreateSystemDefaultDevice();
        device->setSynchronousCommandExecution(true);
        cb = device->newCommandQueue()->commandBuffer();
    }
    void TearDown() override { device->setSynchronousCommandExecution(false); }
    std::shared_ptr<MTLDevice> device;
    std::shared_ptr<MTLCommandBuffer> cb;
};

TEST_F(EncoderHelpersTest, DispatchCoversTheSizeInWholeGroups) {
    const std::pair<MTLSize, MTLSize> cases[] = {{{100, 50, 1}, {7, 4, 1}},
                                                 {{16, 16, 1}, {1, 1, 1}},
                                                 {{17, 1, 1}, {2, 1, 1}},
                                                 {{0, 0, 1}, {0, 0, 1}},
                                                 {{5, 5, 9}, {1, 1, 1}}};
    auto pipeline =
        device->newComputePipelineState(device->newDefaultLibrary()->newFunction("fill"));
    compute(*cb, std::nullopt, [&](MTLComputeCommandEncoder& e) {
        e.setComputePipelineState(pipeline);
        for (const auto& [size, groups] : cases) {
            dispatchThreadgroupsForWorkingOn(e, size);
        }
    });
    const auto trace = cb->debugTrace();
    ASSERT_EQ(trace.size(), 1 + std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(trace[i + 1].threadgroups, cases[i].second) << i;
        EXPECT_EQ(trace[i + 1].threadsPerThreadgroup, (MTLSize{16, 16, 1}));
    }
}

TEST_F(EncoderHelpersTest, LabelIsSetBeforeTheCallbackAndTheEncoderEndsAfterIt) {
    std::optional<std::string> seen = "unset";
    compute(*cb, "Fill texture with color", [&](MTLComputeCommandEncoder& e) { seen = e.label(); });
    EXPECT_EQ(seen, "Fill texture with color");
    compute(*cb, std::nullopt, [&](MTLComputeCommandEncoder& e) { seen = e.label(); });
    EXPECT_FALSE(seen.has_value());
    blit(*cb, "Copy", [](MTLBlitCommandEncoder&) {});
    auto d = MTLTextureDescriptor::texture2DDescriptor(MTLPixelFormat::bgra8Unorm, 2, 2);
    d.usage = MTLTextureUsage::renderTarget;
    MTLRenderPassDescriptor pass;
    pass.colorAttachments[0].texture = device->newTexture(d);
    render(*cb, pass, "Empty rendering with no layer", [](MTLRenderCommandEncoder&) {});
    // Every encoder ended: the buffer takes another one and commits.
    cb->commit();
    const auto trace = cb->debugTrace();
    ASSERT_EQ(trace.size(), 4u);
    EXPECT_EQ(trace[0], (MTLCommandTraceEntry{Kind::computeEncoder, "Fill texture with color"}));
    EXPECT_EQ(trace[1], (MTLCommandTraceEntry{Kind::computeEncoder, std::nullopt}));
    EXPECT_EQ(trace[2], (MTLCommandTraceEntry{Kind::blitEncoder, "Copy"}));
    EXPECT_EQ(trace[3],
              (MTLCommandTraceEntry{Kind::renderEncoder, "Empty rendering with no layer"}));
}

TEST_F(EncoderHelpersTest, TextureSizeAndIdentity) {
    auto a = device->newTexture(
        MTLTextureDescriptor::texture2DDescriptor(MTLPixelFormat::rgba8Unorm, 30, 7));
    auto b = device->newTexture(
        MTLTextureDescriptor::texture2DDescriptor(MTLPixelFormat::rgba8Unorm, 30, 7));
    EXPECT_EQ(size(*a), (MTLSize{30, 7, 1}));
    EXPECT_TRUE(*a == *a);
    EXPECT_FALSE(*a == *b);
}

TEST(ShaderValueConversions, GeometryAndColour) {
    const auto m = simdFloat3x3(CGAffineTransform{2, 0, 0, 2, 10, 20});
    EXPECT_EQ(m.columns[0], (std::array<float, 4>{2, 0, 0, 0}));
    EXPECT_EQ(m.columns[1], (std::array<float, 4>{0, 2, 0, 0}));
    EXPECT_EQ(m.columns[2], (std::array<float, 4>{10, 20, 1, 0}));
    // The matrix times (x, y, 1) is the transformed point.
    const CGAffineTransform t{0.5, 1.5, -2, 3, 7, -4};
    const auto r = simdFloat3x3(t);
    const float x = 3, y = 5;
    EXPECT_FLOAT_EQ(r.columns[0][0] * x + r.columns[1][0] * y + r.columns[2][0],
                    0.5 * 3 - 2 * 5 + 7);
    EXPECT_FLOAT_EQ(r.columns[0][1] * x + r.columns[1][1] * y + r.columns[2][1],
                    1.5 * 3 + 3 * 5 - 4);

    EXPECT_EQ(simd2UInt32(MTLSize{8000, 4294967295, 9}), (SIMD2<uint32_t>{8000, 4294967295u}));
    EXPECT_EQ(simd2UInt32(MTLOrigin{3, 4, 5}), (SIMD2<uint32_t>{3, 4}));
    EXPECT_EQ(simd2Float(CGPoint{1.25, -2.5}), (SIMD2<float>{1.25f, -2.5f}));
    EXPECT_EQ(simd2Float(CGSize{0.1, 3}), (SIMD2<float>{0.1f, 3.0f}));
    EXPECT_EQ(mpsOffset(MTLOrigin{-1, 2, 3}), (MPSOffset{-1, 2, 3}));
    const auto c = mtlClearColor(*NSColor::colorWithSRGBRed(0.25, 0.5, 0.75, 0.5));
    EXPECT_EQ(c, (MTLClearColor{0.25, 0.5, 0.75, 0.5}));
}

TEST(ShaderValueConversionsDeathTest, OutOfRangeUnsignedValuesStopTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(simd2UInt32(MTLSize{-1, 1, 1}), "unsigned 32-bit");
    EXPECT_DEATH(simd2UInt32(MTLOrigin{0, 4294967296, 0}), "unsigned 32-bit");
}

} // namespace
