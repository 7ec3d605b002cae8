#include "imaging/CIBlendKernel.hpp"

namespace velmora {

namespace {
std::shared_ptr<const CIBlendKernel> make(CIBlendKernel::Op op, const char* name) {
    return std::make_shared<const CIBlendKernel>(op, name);
}
} // namespace

#define VELMORA_BUILTIN_KERNEL(name)                                                               \
    const std::shared_ptr<const CIBlendKernel>& CIBlendKernel::name() {                            \
        static const std::shared_ptr<const CIBlendKernel> kernel = make(Op::name, #name);          \
        return kernel;                                                                             \
    }
VELMORA_BUILTIN_KERNEL(sourceOver)
VELMORA_BUILTIN_KERNEL(sourceOut)
VELMORA_BUILTIN_KERNEL(multiply)
VELMORA_BUILTIN_KERNEL(overlay)
VELMORA_BUILTIN_KERNEL(linearBurn)
VELMORA_BUILTIN_KERNEL(linearDodge)
#undef VELMORA_BUILTIN_KERNEL

std::optional<CIImage> CIBlendKernel::apply(const CIImage& foreground,
                                            const CIImage& background) const {
    const bool noForeground = foreground.isEmpty(), noBackground = background.isEmpty();
    if (op_ == Op::sourceOut) {
        if (noForeground) {
            return CIImage();
        }
    } else if (noForeground) {
        return background;
    }
    if (noBackground) {
        return foreground; // D = 0 gives S for every mode.
    }
    return CIImage(imaging::blendNode(op_, foreground.node(), background.node()));
}

} // namespace velmora
