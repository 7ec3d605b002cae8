#include "graphics/NSColorSpace.hpp"

#include "foundation/FatalError.hpp"

namespace velmora {

std::string_view modelText(NSColorSpaceModel model) {
    switch (model) {
    case NSColorSpaceModel::gray:
        return "Gray";
    case NSColorSpaceModel::rgb:
        return "RGB";
    case NSColorSpaceModel::cmyk:
        return "CMYK";
    case NSColorSpaceModel::lab:
        return "LAB";
    case NSColorSpaceModel::unknown:
        break;
    }
    return "Unknown";
}

NSColorSpace::NSColorSpace(CGColorSpaceRef space) : space_(std::move(space)) {
    precondition(space_ != nullptr, "A colour space needs a CGColorSpace");
}

NSColorSpaceModel NSColorSpace::colorSpaceModel() const {
    switch (space_->model()) {
    case CGColorSpaceModel::monochrome:
        return NSColorSpaceModel::gray;
    case CGColorSpaceModel::rgb:
        return NSColorSpaceModel::rgb;
    case CGColorSpaceModel::cmyk:
        return NSColorSpaceModel::cmyk;
    case CGColorSpaceModel::lab:
        return NSColorSpaceModel::lab;
    case CGColorSpaceModel::unknown:
        break;
    }
    return NSColorSpaceModel::unknown;
}

NSColorSpaceRef NSColorSpace::sRGBColorSpace() {
    static const NSColorSpaceRef space = std::make_shared<const NSColorSpace>(CGColorSpace::sRGB());
    return space;
}

NSColorSpaceRef NSColorSpace::genericRGBColorSpace() {
    static const NSColorSpaceRef space =
        std::make_shared<const NSColorSpace>(CGColorSpace::genericRGB());
    return space;
}

NSColorSpaceRef NSColorSpace::displayP3ColorSpace() {
    static const NSColorSpaceRef space =
        std::make_shared<const NSColorSpace>(CGColorSpace::displayP3());
    return space;
}

NSColorSpaceRef NSColorSpace::genericGrayColorSpace() {
    static const NSColorSpaceRef space =
        std::make_shared<const NSColorSpace>(CGColorSpace::genericGray());
    return space;
}

NSColorSpaceRef NSColorSpace::withCGColorSpace(CGColorSpaceRef space) {
    if (space == nullptr) {
        return nullptr;
    }
    return std::make_shared<const NSColorSpace>(std::move(space));
}

NSColorSpaceRef NSColorSpace::withICCProfileData(std::span<const uint8_t> data) {
    return withCGColorSpace(CGColorSpace::withICCData(data));
}

} // namespace velmora
