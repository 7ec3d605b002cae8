#pragma once

#include "Canvas/GroupLayer.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Canvas/RasterLayer.hpp"
#include "coding/Coding.hpp"

#include <memory>
#include <string>
#include <vector>

namespace velmora::testing {

// A layer whose content is a fixed list of regions.
class RegionLayer : public Layer {
public:
    RegionLayer(std::string name, std::vector<MTLRegion> regions)
        : Layer(std::move(name)), regions_(std::move(regions)) {}
    std::vector<MTLRegion> regions() const override { return regions_; }
    CIImage image(const MTLRegion&) const override { return CIImage::empty(); }
    void moveContents(const MTLVector& v) override {
        for (auto& r : regions_) {
            r.origin += v;
        }
    }

private:
    std::vector<MTLRegion> regions_;
};

// Records every call as a line of text, with the canvas's active layer as it
// was at the call.
class RecordingCanvasDelegate : public LayeredCanvasDelegate {
public:
    std::vector<std::string> calls;

    void layeredCanvasDidInsert(LayeredCanvas& canvas, const std::shared_ptr<Layer>& layer,
                                const IndexPath& path) override {
        calls.push_back("insert " + layer->name() + " at " + path.description() + active(canvas));
    }
    void layeredCanvasDidRemove(LayeredCanvas& canvas, const std::shared_ptr<Layer>& layer,
                                const IndexPath& path) override {
        calls.push_back("remove " + layer->name() + " at " + path.description() + active(canvas));
    }
    void layeredCanvasDidMove(LayeredCanvas&, const std::shared_ptr<Layer>& layer,
                              const IndexPath& from, const IndexPath& to,
                              const std::shared_ptr<LayerContainer>& fromContainer,
                              const std::shared_ptr<LayerContainer>& toContainer) override {
        calls.push_back("move " + layer->name() + " from " + from.description() + " to " +
                        to.description() + " in " + containerName(fromContainer) + " -> " +
                        containerName(toContainer));
    }

private:
    static std::string active(LayeredCanvas& canvas) {
        const auto layer = canvas.activeLayer();
        return ", active " + (layer ? layer->name() : std::string("none"));
    }
    static std::string containerName(const std::shared_ptr<LayerContainer>& container) {
        if (const auto group = std::dynamic_pointer_cast<GroupLayer>(container)) {
            return group->name();
        }
        return "canvas";
    }
};

inline std::shared_ptr<GroupLayer> group(std::string name, Layers children) {
    auto g = GroupLayer::make(std::move(name));
    g->setImmediateLayers(std::move(children));
    return g;
}

inline std::shared_ptr<RasterLayer> raster(std::string name) {
    return RasterLayer::make(std::move(name));
}

// A canvas of 64 x 64 whose top-level layers are `layers`, none active.
inline std::shared_ptr<LayeredCanvas> canvasWith(Layers layers) {
    auto canvas = LayeredCanvas::make({64, 64, 1});
    canvas->setImmediateLayers(std::move(layers));
    canvas->setActiveLayer(nullptr);
    return canvas;
}

inline std::vector<std::string> names(const Layers& layers) {
    std::vector<std::string> result;
    for (const auto& l : layers) {
        result.push_back(l->name());
    }
    return result;
}

// The value tree of an encoded value, and back.
template <class T> CodedValue encodeTree(const T& value) {
    return ValueEncoder().encode(value);
}
template <class T> T decodeTree(CodedValue tree) {
    return ValueDecoder().decode<T>(std::move(tree));
}

} // namespace velmora::testing
