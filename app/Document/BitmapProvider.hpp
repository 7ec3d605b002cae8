#pragma once

#include "graphics/NSBitmapImageRep.hpp"

#include <memory>

namespace velmora {

// Supplies the flattened canvas when a document is saved.
class BitmapProvider {
public:
    virtual ~BitmapProvider() = default;
    virtual std::shared_ptr<NSBitmapImageRep> bitmap() = 0;
};

// Holds the provider of its flattened canvas, weakly.
class BitmapReceiver {
public:
    virtual ~BitmapReceiver() = default;
    virtual std::shared_ptr<BitmapProvider> bitmapProvider() const = 0;
    virtual void setBitmapProvider(const std::shared_ptr<BitmapProvider>& provider) = 0;
};

} // namespace velmora
