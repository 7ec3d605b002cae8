#include "Rendering/BlendKernel.hpp"

#include "foundation/CheckedMath.hpp"
#include "foundation/FatalError.hpp"

#include <algorithm>

namespace velmora {

namespace {

std::shared_ptr<const BlendKernel> builtIn(const std::shared_ptr<const CIBlendKernel>& kernel) {
    return std::make_shared<const BuiltInBlendKernel>(kernel);
}

} // namespace

const std::shared_ptr<const BlendKernel>& blendKernel(BlendMode mode) {
    static const std::shared_ptr<const BlendKernel> sourceOver =
        builtIn(CIBlendKernel::sourceOver());
    static const std::shared_ptr<const BlendKernel> multiply = builtIn(CIBlendKernel::multiply());
    static const std::shared_ptr<const BlendKernel> overlay = builtIn(CIBlendKernel::overlay());
    static const std::shared_ptr<const BlendKernel> linearBurn =
        builtIn(CIBlendKernel::linearBurn());
    static const std::shared_ptr<const BlendKernel> linearDodge =
        builtIn(CIBlendKernel::linearDodge());
    switch (mode) {
    case BlendMode::sourceOver:
        return sourceOver;
    case BlendMode::multiply:
        return multiply;
    case BlendMode::overlay:
        return overlay;
    case BlendMode::linearBurn:
        return linearBurn;
    case BlendMode::linearDodge:
        return linearDodge;
    case BlendMode::eraser: {
        static const std::shared_ptr<const BlendKernel> eraser =
            std::make_shared<const InvertedBlendKernel>(CIBlendKernel::sourceOut());
        return eraser;
    }
    }
    fatalError("Internal inconcistency");
}

std::optional<std::pair<MTLOrigin, MTLRegion>> clipBlitRegions(const MTLRegion& region,
                                                               int64_t width, int64_t height) {
    MTLRegion clipped = region;
    MTLOrigin offset{0, 0, 0};
    if (clipped.origin.x < 0) {
        offset.x = checked::neg(clipped.origin.x);
        clipped.size.width = checked::sub(clipped.size.width, offset.x);
        clipped.origin.x = 0;
    }
    if (clipped.origin.y < 0) {
        offset.y = checked::neg(clipped.origin.y);
        clipped.size.height = checked::sub(clipped.size.height, offset.y);
        clipped.origin.y = 0;
    }
    clipped.size.width =
        std::max<int64_t>(0, std::min(clipped.size.width, checked::sub(width, clipped.origin.x)));
    clipped.size.height =
        std::max<int64_t>(0, std::min(clipped.size.height, checked::sub(height, clipped.origin.y)));
    if (clipped.size.width < 1 || clipped.size.height < 1) {
        return std::nullopt;
    }
    return std::pair{offset, clipped};
}

} // namespace velmora
