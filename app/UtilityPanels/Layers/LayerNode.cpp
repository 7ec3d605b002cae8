#include "UtilityPanels/Layers/LayerNode.hpp"

#include "Canvas/LayerContainer.hpp"

namespace velmora {

std::shared_ptr<LayerNode> LayerNode::make(std::shared_ptr<Layer> layer) {
    auto node = std::make_shared<LayerNode>(Token{}, std::move(layer));
    if (const auto group = asContainer(node->layer)) {
        const Layers& layers = group->immediateLayers();
        for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
            auto child = make(*it);
            child->parent = node;
            node->children.push_back(std::move(child));
        }
    }
    return node;
}

bool LayerNode::isLeaf() const {
    return asContainer(layer) == nullptr;
}

} // namespace velmora
