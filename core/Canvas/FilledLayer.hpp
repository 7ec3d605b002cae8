#pragma once

#include "Canvas/Layer.hpp"
#include "imaging/CIColor.hpp"

namespace velmora {

// One colour over the whole of the largest canvas; the white ground below the
// composited tree. Never stored.
class FilledLayer : public Layer {
public:
    FilledLayer(std::string name, const CIColor& color) : Layer(std::move(name)), color_(color) {}
    static std::shared_ptr<FilledLayer> make(std::string name, const CIColor& color) {
        return std::make_shared<FilledLayer>(std::move(name), color);
    }

    const CIColor& color() const { return color_; }

    // The one region of the largest canvas, whatever the canvas's size.
    std::vector<MTLRegion> regions() const override;
    CIImage image(const MTLRegion& region) const override;
    // A filled layer cannot be moved.
    void moveContents(const MTLVector& vector) override;

private:
    CIColor color_;
};

} // namespace velmora
