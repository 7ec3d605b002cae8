#include "gpu/MPSImageConversion.hpp"

#include "foundation/FatalError.hpp"
#include "gpu/cpu/PixelIO.hpp"
#include "gpu/cpu/Workers.hpp"
#include "graphics/PixelConversion.hpp"

#include <algorithm>
#include <limits>
#include <vector>

namespace velmora {

std::optional<CGColorConversionInfo> CGColorConversionInfoCreate(CGColorSpaceRef source,
                                                                 CGColorSpaceRef destination) {
    if (source == nullptr || destination == nullptr) {
        return std::nullopt;
    }
    return CGColorConversionInfo{std::move(source), std::move(destination)};
}

namespace {
// The platform's "no clip": every pixel of the destination.
constexpr int64_t kNoClip = std::numeric_limits<int64_t>::max() / 4;
} // namespace

MPSImageConversion::MPSImageConversion(std::shared_ptr<MTLDevice> device, MPSAlphaType sourceAlpha,
                                       MPSAlphaType destinationAlpha,
                                       std::optional<std::array<double, 4>> backgroundColor,
                                       std::optional<CGColorConversionInfo> conversionInfo)
    : device_(std::move(device)), sourceAlpha_(sourceAlpha), destinationAlpha_(destinationAlpha),
      background_(backgroundColor),
      conversion_(std::move(conversionInfo)), clipRect_{{0, 0, 0}, {kNoClip, kNoClip, 1}} {
    precondition(device_ != nullptr, "Conversion without a device");
    if (conversion_ && *conversion_->source == *conversion_->destination) {
        conversion_.reset();
    }
}

namespace {

struct Plan {
    std::shared_ptr<MTLTexture> source, destination;
    MPSAlphaType sourceAlpha, destinationAlpha;
    std::optional<std::array<double, 4>> background;
    std::optional<CGColorConversionInfo> conversion;
    int64_t x0, y0, x1, y1; // destination pixels
    int64_t dx, dy;         // source = destination + (dx, dy)
};

void convertRows(const Plan& plan, const MTLTextureContents& dst, int64_t y0, int64_t y1) {
    const auto src = plan.source->contentsForReading();
    const auto srcLayout = *cpu::pixelLayout(src.pixelFormat);
    const auto dstLayout = *cpu::pixelLayout(dst.pixelFormat);
    const int64_t n = plan.x1 - plan.x0;
    // Destination columns whose source pixel exists.
    const int64_t vx0 = std::clamp(-plan.dx, plan.x0, plan.x1);
    const int64_t vx1 = std::clamp(src.width - plan.dx, vx0, plan.x1);
    const bool plain = !plan.conversion && plan.sourceAlpha == plan.destinationAlpha &&
                       plan.sourceAlpha != MPSAlphaType::alphaIsOne;
    std::vector<float> row(static_cast<size_t>(n) * 4), converted;
    if (plan.conversion) {
        converted.resize(row.size());
    }
    for (int64_t y = y0; y < y1; ++y) {
        const int64_t sy = y + plan.dy;
        uint8_t* out = dst.row(y) + plan.x0 * dst.bytesPerPixel;
        const bool rowInside = sy >= 0 && sy < src.height;
        if (plain && rowInside && vx0 == plan.x0 && vx1 == plan.x1 &&
            srcLayout.kind == cpu::PixelLayout::Kind::float32 && srcLayout.channels == 4) {
            // Straight from the source's floats: the common rgba32Float to 8-bit case.
            const auto* in = reinterpret_cast<const float*>(src.row(sy) + (plan.x0 + plan.dx) * 16);
            cpu::storeRow(dstLayout, in, out, n);
            continue;
        }
        std::fill(row.begin(), row.end(), 0.0f);
        if (rowInside && vx1 > vx0) {
            cpu::loadRow(srcLayout, src.row(sy) + (vx0 + plan.dx) * src.bytesPerPixel,
                         row.data() + (vx0 - plan.x0) * 4, vx1 - vx0);
        }
        if (!plain) {
            for (int64_t i = 0; i < n; ++i) {
                float* p = row.data() + 4 * i;
                if (plan.sourceAlpha == MPSAlphaType::alphaIsOne) {
                    p[3] = 1.0f;
                } else if (plan.sourceAlpha == MPSAlphaType::premultiplied) {
                    const float a = p[3];
                    for (int c = 0; c < 3; ++c) {
                        p[c] = a > 0.0f ? p[c] / a : 0.0f;
                    }
                }
            }
            float* colours = row.data();
            if (plan.conversion) {
                convertPixels(plan.conversion->source.get(), ::velmora::PixelLayout::rgbaFloat32,
                              row.data(), *plan.conversion->destination,
                              ::velmora::PixelLayout::rgbaFloat32, converted.data(),
                              static_cast<size_t>(n));
                colours = converted.data();
            }
            for (int64_t i = 0; i < n; ++i) {
                float* p = colours + 4 * i;
                if (plan.destinationAlpha == MPSAlphaType::premultiplied) {
                    for (int c = 0; c < 3; ++c) {
                        p[c] *= p[3];
                    }
                } else if (plan.destinationAlpha == MPSAlphaType::alphaIsOne) {
                    if (plan.background) {
                        const auto& b = *plan.background;
                        for (int c = 0; c < 3; ++c) {
                            p[c] = p[c] * p[3] + static_cast<float>(b[c]) * (1.0f - p[3]);
                        }
                    }
                    p[3] = 1.0f;
                }
            }
            cpu::storeRow(dstLayout, colours, out, n);
            continue;
        }
        cpu::storeRow(dstLayout, row.data(), out, n);
    }
}

} // namespace

void MPSImageConversion::encode(MTLCommandBuffer& commandBuffer,
                                std::shared_ptr<MTLTexture> sourceTexture,
                                std::shared_ptr<MTLTexture> destinationTexture) const {
    precondition(sourceTexture != nullptr && destinationTexture != nullptr,
                 "Conversion without a texture");
    precondition(sourceTexture != destinationTexture, "Conversion in place");
    const auto& c = clipRect_;
    precondition(c.origin.x >= 0 && c.origin.y >= 0 && c.size.width >= 0 && c.size.height >= 0,
                 "Conversion clip rectangle with negative components");
    Plan plan{sourceTexture,
              destinationTexture,
              sourceAlpha_,
              destinationAlpha_,
              background_,
              conversion_,
              0,
              0,
              0,
              0,
              offset_.x,
              offset_.y};
    plan.x0 = std::min(c.origin.x, destinationTexture->width());
    plan.y0 = std::min(c.origin.y, destinationTexture->height());
    plan.x1 = c.size.width > destinationTexture->width() - plan.x0 ? destinationTexture->width()
                                                                   : plan.x0 + c.size.width;
    plan.y1 = c.size.height > destinationTexture->height() - plan.y0 ? destinationTexture->height()
                                                                     : plan.y0 + c.size.height;
    precondition(std::abs(plan.dx) < kNoClip && std::abs(plan.dy) < kNoClip,
                 "Conversion offset out of range");
    commandBuffer.encodeHostCommand(
        label_.value_or("MPSImageConversion"),
        [plan] {
            if (plan.x1 > plan.x0 && plan.y1 > plan.y0) {
                // Taken once, telling what is written: readers that keep copies of the
                // destination (a saved file's strips, say) renew only that.
                const auto dst = plan.destination->contents(
                    {{plan.x0, plan.y0, 0}, {plan.x1 - plan.x0, plan.y1 - plan.y0, 1}});
                cpu::parallelRows(plan.y0, plan.y1,
                                  [&](int64_t y0, int64_t y1) { convertRows(plan, dst, y0, y1); });
            }
        },
        {sourceTexture, destinationTexture});
}

} // namespace velmora
