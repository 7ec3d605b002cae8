#pragma once

#include "imaging/CIImage.hpp"
#include "imaging/PixelKernels.hpp"

#include <memory>
#include <optional>
#include <string>

namespace velmora {

// A built-in kernel that puts a foreground over a background, both
// premultiplied (S and D, Cs = S/Sa, Cd = D/Da):
//   sourceOver  R = S + D(1 − Sa)
//   sourceOut   R = S(1 − Da)
//   multiply, overlay, linearBurn, linearDodge:
//               R = S(1 − Da) + D(1 − Sa) + Sa·Da·B(Cs, Cd), Ra = Sa + Da − Sa·Da
// The result's extent is the union of both extents, except for sourceOut,
// whose result is zero outside the foreground.
class CIBlendKernel {
public:
    using Op = imaging::kernels::BlendOp;

    static const std::shared_ptr<const CIBlendKernel>& sourceOver();
    static const std::shared_ptr<const CIBlendKernel>& sourceOut();
    static const std::shared_ptr<const CIBlendKernel>& multiply();
    static const std::shared_ptr<const CIBlendKernel>& overlay();
    static const std::shared_ptr<const CIBlendKernel>& linearBurn();
    static const std::shared_ptr<const CIBlendKernel>& linearDodge();

    CIBlendKernel(Op op, std::string name) : op_(op), name_(std::move(name)) {}

    Op op() const { return op_; }
    const std::string& name() const { return name_; }

    // Always has a value for these kernels; optional as the platform's is.
    std::optional<CIImage> apply(const CIImage& foreground, const CIImage& background) const;

private:
    Op op_;
    std::string name_;
};

} // namespace velmora
