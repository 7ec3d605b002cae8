#pragma once

#include "Canvas/Layer.hpp"
#include "foundation/IndexPath.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

using Layers = std::vector<std::shared_ptr<Layer>>;

// Everything that holds layers (the canvas and groups), with addressing by
// index path: one index per level from this container down, bottom first.
// Negative indices name nothing.
class LayerContainer {
public:
    virtual ~LayerContainer() = default;

    // The container's own layers, bottom first. Editing them directly tells
    // no delegate.
    virtual Layers& immediateLayers() = 0;
    virtual const Layers& immediateLayers() const = 0;
    virtual LayerTree::Pointer layerTree() const = 0;
    virtual std::string description() const = 0;
    // This container, as owned by its holder.
    virtual std::shared_ptr<LayerContainer> sharedContainer() const = 0;

    // Nothing for the empty path and for a path that names no layer.
    std::shared_ptr<Layer> layer(const IndexPath& path) const;
    // The container that holds, or would hold, the item at the path: the last
    // index is never looked at. This container for the empty path.
    std::shared_ptr<LayerContainer> container(const IndexPath& path) const;
    // The first layer of `layerTree`, in walk order, with that identifier.
    std::shared_ptr<Layer> layer(const UUID& uuid) const;
    // Where that very object is (compared by identity); the empty path for a
    // group asked for itself.
    std::optional<IndexPath> path(const Layer& layer) const;
    // The nearest existing path: the layer now at the path, else the top
    // layer of the deepest group reached, else that group. Nothing only for
    // the empty path.
    std::optional<IndexPath> closestPath(const IndexPath& path) const;
};

// The layer as a container when it is one (a group).
std::shared_ptr<LayerContainer> asContainer(const std::shared_ptr<Layer>& layer);

} // namespace velmora
