#pragma once

#include <memory>

namespace velmora {

class NSBitmapImageRep;

// Anything that can give its pixels as a bitmap; a canvas can be made from any adopter.
class BitmapRepresentable {
public:
    virtual ~BitmapRepresentable() = default;
    virtual std::shared_ptr<NSBitmapImageRep> asBitmap() = 0;
};

} // namespace velmora
