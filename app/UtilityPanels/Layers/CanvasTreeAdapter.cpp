#include "UtilityPanels/Layers/CanvasTreeAdapter.hpp"

#include "Extensions/IndexPathExtensions.hpp"
#include "foundation/FatalError.hpp"

#include <algorithm>

namespace velmora {

namespace {

bool isPrefix(const IndexPath& prefix, const IndexPath& path) {
    return prefix.count() <= path.count() && std::equal(prefix.begin(), prefix.end(), path.begin());
}

} // namespace

std::shared_ptr<CanvasTreeAdapter> CanvasTreeAdapter::make(std::shared_ptr<LayeredCanvas> canvas) {
    auto adapter = std::make_shared<CanvasTreeAdapter>(Token{}, std::move(canvas));
    adapter->canvas_->delegates() += std::static_pointer_cast<LayeredCanvasDelegate>(adapter);
    adapter->activeLayerObservation_ =
        adapter->canvas_->observeActiveLayer([weak = std::weak_ptr(adapter)](LayeredCanvas&) {
            if (const auto self = weak.lock()) {
                self->activeLayerDidChange();
            }
        });
    adapter->activeLayerDidChange();
    return adapter;
}

CanvasTreeAdapter::CanvasTreeAdapter(Token, std::shared_ptr<LayeredCanvas> canvas)
    : canvas_(std::move(canvas)) {
    precondition(canvas_ != nullptr, "A tree adapter needs a canvas");
    // No view watches yet: the nodes go in at once, topmost first.
    std::vector<std::shared_ptr<LayerNode>> content;
    const Layers& layers = canvas_->immediateLayers();
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
        content.push_back(LayerNode::make(*it));
    }
    treeController_ = std::make_unique<LayerTreeController>(std::move(content));
}

CanvasTreeAdapter::~CanvasTreeAdapter() = default;

IndexPath CanvasTreeAdapter::arrangedIndexPath(const IndexPath& modelPath) const {
    IndexPath arranged;
    std::shared_ptr<LayerContainer> container = canvas_;
    for (int64_t level = 0; level < modelPath.count(); ++level) {
        if (!container) {
            fatalError("Internal inconcistency");
        }
        const Layers& layers = container->immediateLayers();
        const IndexPath::Element m = modelPath[level];
        arranged.append(IndexPath::Element(layers.size()) - 1 - m);
        if (level + 1 < modelPath.count()) {
            container =
                m >= 0 && uint64_t(m) < layers.size() ? asContainer(layers[size_t(m)]) : nullptr;
        }
    }
    return arranged;
}

IndexPath CanvasTreeAdapter::arrangedPath(const Layer& layer) const {
    const auto found = treeController_->indexPath(layer);
    if (!found) {
        fatalError("Internal inconcistency");
    }
    return *found;
}

void CanvasTreeAdapter::activeLayerDidChange() {
    const auto active = canvas_->activeLayer();
    treeController_->setSelectionIndexPath(active ? std::optional(arrangedPath(*active))
                                                  : std::nullopt);
}

void CanvasTreeAdapter::layeredCanvasDidInsert(LayeredCanvas&, const std::shared_ptr<Layer>& layer,
                                               const IndexPath& path) {
    treeController_->insertObject(LayerNode::make(layer), arrangedIndexPath(path));
}

void CanvasTreeAdapter::layeredCanvasDidRemove(LayeredCanvas&, const std::shared_ptr<Layer>& layer,
                                               const IndexPath&) {
    treeController_->removeObject(arrangedPath(*layer));
}

void CanvasTreeAdapter::layeredCanvasDidMove(LayeredCanvas&, const std::shared_ptr<Layer>& layer,
                                             const IndexPath&, const IndexPath&,
                                             const std::shared_ptr<LayerContainer>&,
                                             const std::shared_ptr<LayerContainer>&) {
    const IndexPath old = arrangedPath(*layer);
    const auto modelPath = canvas_->path(*layer);
    if (!modelPath) {
        fatalError("Internal inconcistency");
    }
    IndexPath destination = arrangedIndexPath(*modelPath);
    const auto oldParent = parent(old);
    const auto newParent = parent(destination);
    if (!oldParent || !newParent) {
        fatalError("Internal inconcistency");
    }
    // Counted in the tree that still holds the node at `old`.
    if (isPrefix(*oldParent, *newParent)) {
        destination = havingInserted(destination, old);
    }
    const auto node = treeController_->descendantNode(old);
    if (!node) {
        fatalError("Internal inconcistency");
    }
    treeController_->moveNode(node, destination);
}

} // namespace velmora
