#include "graphics/NSColor.hpp"

#include "foundation/FatalError.hpp"
#include "graphics/PixelConversion.hpp"

#include <charconv>

namespace velmora {

NSColor::NSColor(NSColorSpaceRef space, std::vector<CGFloat> components)
    : space_(std::move(space)), components_(std::move(components)) {
    precondition(space_ != nullptr && components_.size() == space_->numberOfColorComponents() + 1,
                 "A colour needs one component a channel and alpha");
}

NSColorRef NSColor::colorWithColorSpace(NSColorSpaceRef space, std::vector<CGFloat> components) {
    if (space == nullptr || space->numberOfColorComponents() == 0 ||
        components.size() != space->numberOfColorComponents() + 1) {
        return nullptr;
    }
    return std::make_shared<const NSColor>(std::move(space), std::move(components));
}

NSColorRef NSColor::colorWithSRGBRed(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha) {
    return colorWithColorSpace(NSColorSpace::sRGBColorSpace(), {red, green, blue, alpha});
}

NSColorRef NSColor::colorWithCalibratedRed(CGFloat red, CGFloat green, CGFloat blue,
                                           CGFloat alpha) {
    return colorWithColorSpace(NSColorSpace::genericRGBColorSpace(), {red, green, blue, alpha});
}

NSColorRef NSColor::colorWithDisplayP3Red(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha) {
    return colorWithColorSpace(NSColorSpace::displayP3ColorSpace(), {red, green, blue, alpha});
}

NSColorRef NSColor::colorWithCalibratedWhite(CGFloat white, CGFloat alpha) {
    return colorWithColorSpace(NSColorSpace::genericGrayColorSpace(), {white, alpha});
}

const NSColorRef& NSColor::clearColor() {
    static const NSColorRef color = colorWithCalibratedWhite(0, 0);
    return color;
}

const NSColorRef& NSColor::whiteColor() {
    static const NSColorRef color = colorWithCalibratedWhite(1, 1);
    return color;
}

const NSColorRef& NSColor::blackColor() {
    static const NSColorRef color = colorWithCalibratedWhite(0, 1);
    return color;
}

const NSColorRef& NSColor::cyanColor() {
    static const NSColorRef color = colorWithCalibratedRed(0, 1, 1, 1);
    return color;
}

CGFloat NSColor::redComponent() const {
    precondition(space_->colorSpaceModel() == NSColorSpaceModel::rgb,
                 "redComponent is only valid for RGB colours");
    return components_[0];
}

CGFloat NSColor::greenComponent() const {
    precondition(space_->colorSpaceModel() == NSColorSpaceModel::rgb,
                 "greenComponent is only valid for RGB colours");
    return components_[1];
}

CGFloat NSColor::blueComponent() const {
    precondition(space_->colorSpaceModel() == NSColorSpaceModel::rgb,
                 "blueComponent is only valid for RGB colours");
    return components_[2];
}

CGFloat NSColor::whiteComponent() const {
    precondition(space_->colorSpaceModel() == NSColorSpaceModel::gray,
                 "whiteComponent is only valid for grey colours");
    return components_[0];
}

NSColorRef NSColor::colorUsingColorSpace(const NSColorSpaceRef& space) const {
    if (space == nullptr) {
        return nullptr;
    }
    if (*space == *space_) {
        return shared_from_this();
    }
    double out[3] = {};
    if (!convertColorComponents(*space_->cgColorSpace(), components_.data(), *space->cgColorSpace(),
                                out)) {
        return nullptr;
    }
    std::vector<CGFloat> components(out, out + space->numberOfColorComponents());
    components.push_back(alphaComponent());
    return std::make_shared<const NSColor>(space, std::move(components));
}

std::string NSColor::description() const {
    std::string text = space_->localizedName();
    char number[32];
    for (CGFloat c : components_) {
        // to_chars ignores the user's locale: logs always use a decimal point.
        const auto end = std::to_chars(number, number + sizeof number, c).ptr;
        text += ' ';
        text.append(number, end);
    }
    return text;
}

} // namespace velmora
