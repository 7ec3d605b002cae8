#pragma once

#include "graphics/CGGeometry.hpp"
#include "graphics/NSColorSpace.hpp"

#include <memory>
#include <string>
#include <vector>

namespace velmora {

class NSColor;
using NSColorRef = std::shared_ptr<const NSColor>;

// An immutable colour: components in a colour space, alpha last.
class NSColor : public std::enable_shared_from_this<NSColor> {
public:
    // `components` holds the space's components followed by alpha; nullptr when
    // the count does not fit the space.
    static NSColorRef colorWithColorSpace(NSColorSpaceRef space, std::vector<CGFloat> components);
    static NSColorRef colorWithSRGBRed(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha);
    static NSColorRef colorWithCalibratedRed(CGFloat red, CGFloat green, CGFloat blue,
                                             CGFloat alpha);
    static NSColorRef colorWithDisplayP3Red(CGFloat red, CGFloat green, CGFloat blue,
                                            CGFloat alpha);
    static NSColorRef colorWithCalibratedWhite(CGFloat white, CGFloat alpha);

    // Named colours, each made once.
    static const NSColorRef& clearColor();
    static const NSColorRef& whiteColor();
    static const NSColorRef& blackColor();
    static const NSColorRef& cyanColor();

    const NSColorSpaceRef& colorSpace() const { return space_; }
    size_t numberOfComponents() const { return components_.size(); }
    const std::vector<CGFloat>& components() const { return components_; }

    // RGB colours only; asking another colour stops the program, as the platform raises.
    CGFloat redComponent() const;
    CGFloat greenComponent() const;
    CGFloat blueComponent() const;
    // Grey colours only.
    CGFloat whiteComponent() const;
    CGFloat alphaComponent() const { return components_.back(); }

    // The colour in another space: itself when the space is the same, nullptr
    // when it cannot be converted (a space of another kind than RGB or grey).
    NSColorRef colorUsingColorSpace(const NSColorSpaceRef& space) const;

    // "<space name> r g b a" style text for logs.
    std::string description() const;

    friend bool operator==(const NSColor& a, const NSColor& b) {
        return *a.space_ == *b.space_ && a.components_ == b.components_;
    }

    NSColor(NSColorSpaceRef space, std::vector<CGFloat> components);

private:
    NSColorSpaceRef space_;
    std::vector<CGFloat> components_;
};

} // namespace velmora
