#pragma once

#include "Canvas/GroupLayer.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Canvas/RasterLayer.hpp"
#include "UtilityPanels/Layers/LayerTreeController.hpp"

#include <memory>
#include <string>

namespace velmora::testing {

// The model as names, groups in brackets: "A G[x y] B".
inline std::string modelShape(const LayerContainer& container) {
    std::string out;
    for (const auto& layer : container.immediateLayers()) {
        out += out.empty() ? "" : " ";
        out += layer->name();
        if (const auto group = asContainer(layer)) {
            out += "[" + modelShape(*group) + "]";
        }
    }
    return out;
}

// The outline as the view reads it through the item model, and checks that
// every child names its parent back.
inline std::string outlineShape(const QAbstractItemModel& model, const QModelIndex& parent = {}) {
    std::string out;
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        out += out.empty() ? "" : " ";
        out += index.data().toString().toStdString();
        if (model.parent(index) != parent) {
            out += "<wrong parent>";
        }
        if (model.hasChildren(index)) {
            out += "[" + outlineShape(model, index) + "]";
        }
    }
    return out;
}

// Background, A, a group G holding x and y, and B.
struct LayerTreeFixture {
    std::shared_ptr<RasterLayer> background = RasterLayer::make("Background"),
                                 a = RasterLayer::make("A"), b = RasterLayer::make("B"),
                                 x = RasterLayer::make("x"), y = RasterLayer::make("y");
    std::shared_ptr<GroupLayer> g = GroupLayer::make("G");
    std::shared_ptr<LayeredCanvas> canvas = LayeredCanvas::make({8, 8, 1}, background);

    LayerTreeFixture() {
        g->setImmediateLayers({x, y});
        canvas->setImmediateLayers({background, a, g, b});
    }
};

} // namespace velmora::testing
