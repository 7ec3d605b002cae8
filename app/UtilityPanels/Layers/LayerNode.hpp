#pragma once

#include "Canvas/Layer.hpp"

#include <memory>
#include <vector>

namespace velmora {

// One row of the layers outline: a layer and, for a group, the rows of its
// layers, topmost first. After creation the nodes change only through the
// tree controller, which keeps `parent` in step.
class LayerNode : public std::enable_shared_from_this<LayerNode> {
    struct Token {};

public:
    // A group's children are made at once from its layers, last first.
    static std::shared_ptr<LayerNode> make(std::shared_ptr<Layer> layer);
    LayerNode(Token, std::shared_ptr<Layer> layer) : layer(std::move(layer)) {}

    const std::shared_ptr<Layer> layer;
    std::vector<std::shared_ptr<LayerNode>> children;
    // None for a node at the top level.
    std::weak_ptr<LayerNode> parent;

    // False only for a group.
    bool isLeaf() const;
};

} // namespace velmora
