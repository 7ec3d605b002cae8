#pragma once

#include "graphics/CGColorSpace.hpp"

#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace velmora {

enum class NSColorSpaceModel { unknown = -1, gray = 0, rgb = 1, cmyk = 2, lab = 3 };

// "Gray", "RGB", "CMYK", "LAB", "Unknown".
std::string_view modelText(NSColorSpaceModel model);

// The application-kit face of a CGColorSpace: the same space, shared.
class NSColorSpace {
public:
    static std::shared_ptr<const NSColorSpace> sRGBColorSpace();
    static std::shared_ptr<const NSColorSpace> genericRGBColorSpace();
    static std::shared_ptr<const NSColorSpace> displayP3ColorSpace();
    static std::shared_ptr<const NSColorSpace> genericGrayColorSpace();
    // nullptr for a null space.
    static std::shared_ptr<const NSColorSpace> withCGColorSpace(CGColorSpaceRef space);
    // nullptr when the bytes are no usable profile.
    static std::shared_ptr<const NSColorSpace> withICCProfileData(std::span<const uint8_t> data);

    explicit NSColorSpace(CGColorSpaceRef space);

    const CGColorSpaceRef& cgColorSpace() const { return space_; }
    const std::vector<uint8_t>& iccProfileData() const { return space_->iccData(); }
    NSColorSpaceModel colorSpaceModel() const;
    size_t numberOfColorComponents() const { return space_->numberOfComponents(); }
    const std::string& localizedName() const { return space_->profileDescription(); }

    friend bool operator==(const NSColorSpace& a, const NSColorSpace& b) {
        return *a.space_ == *b.space_;
    }

private:
    CGColorSpaceRef space_;
};

using NSColorSpaceRef = std::shared_ptr<const NSColorSpace>;

} // namespace velmora
