#pragma once

#include "Canvas/BlendMode.hpp"
#include "gpu/MTLGeometry.hpp"
#include "imaging/CIBlendKernel.hpp"
#include "imaging/CIImage.hpp"

#include <memory>
#include <optional>
#include <utility>

namespace velmora {

// Puts a foreground image over a background image.
class BlendKernel {
public:
    virtual ~BlendKernel() = default;
    // Nothing when the kernel gives no image.
    virtual std::optional<CIImage> apply(const CIImage& foreground,
                                         const CIImage& background) const = 0;
};

// One of the built-in kernels, applied as it is.
class BuiltInBlendKernel final : public BlendKernel {
public:
    explicit BuiltInBlendKernel(std::shared_ptr<const CIBlendKernel> kernel)
        : kernel_(std::move(kernel)) {}

    const std::shared_ptr<const CIBlendKernel>& kernel() const { return kernel_; }
    std::optional<CIImage> apply(const CIImage& foreground,
                                 const CIImage& background) const override {
        return kernel_->apply(foreground, background);
    }

private:
    std::shared_ptr<const CIBlendKernel> kernel_;
};

// The subkernel with its two inputs swapped: the eraser is source-out of what
// lies below against the erasing image.
class InvertedBlendKernel final : public BlendKernel {
public:
    explicit InvertedBlendKernel(std::shared_ptr<const CIBlendKernel> subkernel)
        : subkernel_(std::move(subkernel)) {}

    const std::shared_ptr<const CIBlendKernel>& subkernel() const { return subkernel_; }
    std::optional<CIImage> apply(const CIImage& foreground,
                                 const CIImage& background) const override {
        return subkernel_->apply(background, foreground);
    }

private:
    std::shared_ptr<const CIBlendKernel> subkernel_;
};

// The kernel of a blend mode; each mode always gives the same shared object.
const std::shared_ptr<const BlendKernel>& blendKernel(BlendMode mode);

// Fits a destination region into a texture of `width` × `height` before a
// copy: the offset of the kept part inside the unclipped region's content and
// the clipped region, or nothing when no pixel remains.
std::optional<std::pair<MTLOrigin, MTLRegion>> clipBlitRegions(const MTLRegion& region,
                                                               int64_t width, int64_t height);

} // namespace velmora
