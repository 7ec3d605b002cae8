#include "Canvas/LayerContainer.hpp"

namespace velmora {

namespace {

// The layer at `index`, or nothing for an index outside the list.
std::shared_ptr<Layer> at(const Layers& layers, IndexPath::Element index) {
    if (index < 0 || static_cast<uint64_t>(index) >= layers.size()) {
        return nullptr;
    }
    return layers[static_cast<size_t>(index)];
}

bool search(const LayerContainer& container, const Layer& target, IndexPath& prefix) {
    const Layers& layers = container.immediateLayers();
    for (size_t i = 0; i < layers.size(); ++i) {
        prefix.append(static_cast<IndexPath::Element>(i));
        if (layers[i].get() == &target) {
            return true;
        }
        if (const auto group = asContainer(layers[i]); group && search(*group, target, prefix)) {
            return true;
        }
        prefix = prefix.dropLast();
    }
    return false;
}

} // namespace

std::shared_ptr<LayerContainer> asContainer(const std::shared_ptr<Layer>& layer) {
    return std::dynamic_pointer_cast<LayerContainer>(layer);
}

std::shared_ptr<LayerContainer> LayerContainer::container(const IndexPath& path) const {
    std::shared_ptr<LayerContainer> current = sharedContainer();
    for (int64_t k = 0; k + 1 < path.count(); ++k) {
        current = asContainer(at(current->immediateLayers(), path[k]));
        if (!current) {
            return nullptr;
        }
    }
    return current;
}

std::shared_ptr<Layer> LayerContainer::layer(const IndexPath& path) const {
    const auto holder = container(path);
    if (!holder || path.isEmpty()) {
        return nullptr;
    }
    return at(holder->immediateLayers(), *path.last());
}

std::shared_ptr<Layer> LayerContainer::layer(const UUID& uuid) const {
    for (const auto& candidate : layerTree()->flattenedValues()) {
        if (candidate->uuid() == uuid) {
            return candidate;
        }
    }
    return nullptr;
}

std::optional<IndexPath> LayerContainer::path(const Layer& layer) const {
    if (dynamic_cast<const LayerContainer*>(&layer) == this) {
        return IndexPath();
    }
    IndexPath prefix;
    if (search(*this, layer, prefix)) {
        return prefix;
    }
    return std::nullopt;
}

std::optional<IndexPath> LayerContainer::closestPath(const IndexPath& path) const {
    if (path.isEmpty()) {
        return std::nullopt;
    }
    IndexPath result;
    std::shared_ptr<LayerContainer> current = sharedContainer();
    for (const IndexPath::Element i : path) {
        const IndexPath::Element j = std::max<IndexPath::Element>(i, 0);
        const auto& layers = current->immediateLayers();
        const auto n = static_cast<IndexPath::Element>(layers.size());
        const auto group = asContainer(at(layers, j));
        if (!group) {
            const IndexPath::Element k = std::min(j, n - 1);
            if (k >= 0) {
                result.append(k);
            }
            return result;
        }
        result.append(j);
        current = group;
    }
    return result;
}

} // namespace velmora
