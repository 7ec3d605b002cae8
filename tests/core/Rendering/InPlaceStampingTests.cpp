#include "Rendering/DotDesc.hpp"
#include "Rendering/MetalHelper.hpp"
#include "Rendering/StrokeRenderer.hpp"
#include "foundation/UserDefaults.hpp"
#include "gpu/cpu/Workers.hpp"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

using namespace velmora;
using Dot = StrokesViewModel::Dot;

namespace {

constexpr int64_t kSide = 96;

// The dab model one pixel at a time, in the kernel's float operations and order,
// onto rows of straight RGBA floats.
void stampReference(std::vector<float>& pixels, const DotDesc& dot) {
    const auto unit = [](float v) { return v > 0 ? (v < 1 ? v : 1) : 0; };
    const float alpha = unit(dot.opacity) * unit(dot.color[3]);
    const MTLRegion region = dotRegion(dot);
    const float hardness = std::isnan(dot.hardness) ? 1.0f : unit(dot.hardness);
    const float inner = hardness * dot.radius - 0.5f, outer = dot.radius + 0.5f;
    const float invWidth = 1.0f / (outer - inner);
    if (!(alpha > 0) || !std::isfinite(invWidth)) {
        return;
    }
    for (int64_t y = std::max<int64_t>(0, region.origin.y);
         y < std::min(kSide, region.origin.y + region.size.height); ++y) {
        const float dy = (float(y) + 0.5f) - dot.pos[1];
        const float dy2 = dy * dy;
        // The pixels the kernel visits: rows the rim reaches, columns around them.
        const float rest = outer * outer - dy2;
        if (!(rest > 0)) {
            continue;
        }
        const float half = std::sqrt(rest);
        const int64_t x0 = std::max<int64_t>(0, region.origin.x);
        const int64_t x1 = std::min(kSide, region.origin.x + region.size.width);
        const auto xs = int64_t(std::max(float(x0), std::floor(dot.pos[0] - half - 0.5f)));
        const auto xe = int64_t(std::min(float(x1), std::ceil(dot.pos[0] + half - 0.5f) + 1));
        for (int64_t x = xs; x < xe; ++x) {
            const float dx = (float(int32_t(x)) + 0.5f) - dot.pos[0];
            const float d = std::sqrt(dx * dx + dy2);
            float t = (d - inner) * invWidth;
            t = t > 0.0f ? t : 0.0f;
            t = t < 1.0f ? t : 1.0f;
            const float a = (1.0f - t * t * (3.0f - 2.0f * t)) * alpha;
            float* p = &pixels[size_t((y * kSide + x) * 4)];
            const float old = p[3];
            if (a > old) {
                const float k = (a - old) / ((1.0f - old) * a);
                for (int c = 0; c < 3; ++c) {
                    p[c] += (dot.color[c] - p[c]) * k;
                }
                p[3] = a;
            }
        }
    }
}

struct Case {
    const char* name;
    float minRadius, maxRadius;
    bool erasing;
    int dots;
    bool sharedColours = false; // runs of dots holding one colour object
};

// Whole frames of random dots, stamped in place batch after batch, against the
// model stamped dot by dot: every bit the same, whatever the radius, hardness,
// colour, number of workers, and whatever the stroke held before.
TEST(InPlaceStamping, FramesOfRandomDotsMatchTheModelBitForBit) {
    UserDefaults defaults(std::nullopt);
    DrawingSettings settings(defaults);
    for (const Case& c : std::vector<Case>{{"tiny", 0.2f, 2, false, 200},
                                           {"small", 2, 16, false, 130},
                                           {"small eraser", 2, 16, true, 126},
                                           {"mixed", 0.5f, 40, false, 97},
                                           {"large eraser", 16, 70, true, 41},
                                           {"shared colours", 1, 30, false, 150, true}}) {
        for (int threads : {1, 8}) {
            SCOPED_TRACE(testing::Message() << c.name << ", " << threads << " threads");
            cpu::setWorkerThreadCount(threads);
            std::mt19937 random(uint32_t(c.dots + threads));
            std::uniform_real_distribution<float> unit(0, 1);
            const auto queue = StrokesViewModel::make(settings);
            const auto renderer =
                StrokeRenderer::make({MetalHelper::shared()->device(), MTLPixelFormat::bgra8Unorm},
                                     queue, {kSide, kSide, 1});
            const auto destination = MetalHelper::shared()->makeTexture(
                {kSide, kSide, 1}, MTLTextureUsage::shaderReadWrite, MTLStorageMode::private_,
                drawingPixelFormat, std::nullopt);
            std::vector<float> expected(size_t(kSide * kSide * 4), 0.0f);
            // Two frames: the second stamps over what the first left.
            for (int frame = 0; frame < 2; ++frame) {
                std::vector<Dot> dots;
                std::vector<NSColorRef> palette;
                for (int i = 0; i < 3; ++i) {
                    palette.push_back(NSColor::colorWithSRGBRed(unit(random), unit(random),
                                                                unit(random), 0.3 + unit(random)));
                }
                for (int i = 0; i < c.dots; ++i) {
                    const auto color =
                        c.erasing ? nullptr
                        : c.sharedColours
                            ? palette[size_t(i / 7 % 2 + (i % 11 == 0))]
                            : NSColor::colorWithSRGBRed(unit(random), unit(random), unit(random),
                                                        0.3 + unit(random));
                    dots.push_back({{unit(random) * 120 - 12, unit(random) * 120 - 12},
                                    color,
                                    c.minRadius + unit(random) * (c.maxRadius - c.minRadius),
                                    unit(random),
                                    unit(random) * 1.1}); // opacities above 1 are clamped
                }
                for (const Dot& dot : dots) {
                    stampReference(expected, StrokeRenderer::dotDesc(dot));
                }
                queue->appendDots(dots);
                const auto commandBuffer = MetalHelper::shared()->commandQueue()->commandBuffer();
                renderer->render(destination, commandBuffer);
                commandBuffer->commit();
                commandBuffer->waitUntilCompleted();
                ASSERT_EQ(commandBuffer->status(), MTLCommandBufferStatus::completed);
            }
            const auto contents = renderer->strokeTexture()->contentsForReading();
            int64_t differing = 0;
            for (int64_t y = 0; y < kSide; ++y) {
                differing += std::memcmp(contents.row(y), &expected[size_t(y * kSide * 4)],
                                         size_t(kSide * 16)) != 0;
            }
            EXPECT_EQ(differing, 0) << "rows differ";
        }
    }
    cpu::setWorkerThreadCount(0);
}

} // namespace
