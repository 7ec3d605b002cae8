#include "Canvas/LayeredCanvas.hpp"

#include "Canvas/FilledLayer.hpp"
#include "Canvas/GroupLayer.hpp"
#include "Canvas/LayerFamily.hpp"
#include "Canvas/RasterLayer.hpp"
#include "Extensions/IndexPathExtensions.hpp"
#include "MetalExtensions/MTLGeometryCoding.hpp"
#include "TypedCodable/FamilyDecoding.hpp"
#include "foundation/Hasher.hpp"
#include "graphics/NSBitmapImageRep.hpp"

#include <algorithm>
#include <unordered_set>

namespace velmora {

namespace {

constexpr std::string_view kSizeKey = "size";
constexpr std::string_view kLayersKey = "layers";

void requireAcceptable(const MTLSize& size) {
    if (!isAcceptableCanvasSize(size)) {
        fatalError("Unsupported canvas size " + description(size) + ".");
    }
}

// The last index of a path given to an edit, which must name a position.
size_t lastIndex(const IndexPath& path) {
    const auto last = path.last();
    if (!last || *last < 0) {
        fatalError("Internal inconcistency");
    }
    return static_cast<size_t>(*last);
}

bool isPrefix(const IndexPath& prefix, const IndexPath& path) {
    return prefix.count() <= path.count() && std::equal(prefix.begin(), prefix.end(), path.begin());
}

// True when `container` is `layer` itself or lies anywhere inside it.
bool isWithin(const LayerContainer& container, const std::shared_ptr<Layer>& layer) {
    const auto group = asContainer(layer);
    if (!group) {
        return false;
    }
    for (const auto& value : layer->layerTree()->flattenedValues()) {
        if (asContainer(value).get() == &container) {
            return true;
        }
    }
    return false;
}

} // namespace

LayeredCanvas::DecodingError::DecodingError(MTLSize currentSize)
    : currentSize_(currentSize),
      message_("unsupportedImageSize(currentSize: " + velmora::description(currentSize) + ")") {}

LayeredCanvas::LayeredCanvas(const MTLSize& size, std::shared_ptr<Layer> layer) : size_(size) {
    requireAcceptable(size);
    precondition(layer != nullptr, "A canvas starts with a layer");
    activeLayer_ = layer;
    immediateLayers_.push_back(std::move(layer));
}

std::shared_ptr<LayeredCanvas> LayeredCanvas::make(const MTLSize& size,
                                                   std::shared_ptr<Layer> layer) {
    return std::make_shared<LayeredCanvas>(size, std::move(layer));
}

std::shared_ptr<LayeredCanvas> LayeredCanvas::make(const MTLSize& size) {
    return make(size, RasterLayer::make("Background"));
}

std::shared_ptr<LayeredCanvas> LayeredCanvas::make(BitmapRepresentable& source,
                                                   const std::string& layerName) {
    const auto bitmap = source.asBitmap();
    precondition(bitmap != nullptr, "No bitmap to make a canvas from");
    const MTLSize size{bitmap->pixelsWide(), bitmap->pixelsHigh(), 1};
    requireAcceptable(size);
    return make(size, RasterLayer::make(layerName, *bitmap));
}

void LayeredCanvas::setActiveLayer(const std::shared_ptr<Layer>& layer) {
    activeLayer_ = layer;
    std::vector<std::shared_ptr<ActiveLayerObserver>> observers;
    std::erase_if(activeLayerObservers_, [](const auto& o) { return o.expired(); });
    for (const auto& weak : activeLayerObservers_) {
        if (auto observer = weak.lock()) {
            observers.push_back(std::move(observer));
        }
    }
    for (const auto& observer : observers) {
        (*observer)(*this);
    }
}

std::shared_ptr<void> LayeredCanvas::observeActiveLayer(ActiveLayerObserver observer) {
    auto token = std::make_shared<ActiveLayerObserver>(std::move(observer));
    activeLayerObservers_.push_back(token);
    return token;
}

LayerTree::Pointer LayeredCanvas::layerTree() const {
    const auto root = GroupLayer::make("root");
    root->setImmediateLayers(immediateLayers_);
    root->immediateLayers().insert(root->immediateLayers().begin(),
                                   FilledLayer::make("Filled Layer", CIColor::white()));
    return root->layerTree();
}

std::shared_ptr<LayerContainer> LayeredCanvas::sharedContainer() const {
    return std::const_pointer_cast<LayeredCanvas>(shared_from_this());
}

std::shared_ptr<Layer> LayeredCanvas::operator[](const UUID& uuid) const {
    auto found = layer(uuid);
    if (!found) {
        fatalError("Internal inconcistency");
    }
    return found;
}

void LayeredCanvas::insertLayer(const std::shared_ptr<Layer>& layer, const IndexPath& path) {
    const auto holder = container(path);
    const size_t i = lastIndex(path);
    if (!holder || !layer || i > holder->immediateLayers().size() || isWithin(*holder, layer)) {
        fatalError("Internal inconcistency");
    }
    auto& layers = holder->immediateLayers();
    layers.insert(layers.begin() + static_cast<std::ptrdiff_t>(i), layer);
    delegates_ | [&](LayeredCanvasDelegate& d) { d.layeredCanvasDidInsert(*this, layer, path); };
    if (!activeLayer()) {
        setActiveLayer(layer);
    }
}

void LayeredCanvas::removeLayer(const IndexPath& path) {
    const auto holder = container(path);
    const size_t i = lastIndex(path);
    if (!holder || i >= holder->immediateLayers().size()) {
        fatalError("Internal inconcistency");
    }
    auto& layers = holder->immediateLayers();
    const std::shared_ptr<Layer> removed = layers[i];
    const auto active = activeLayer();
    // A removed group takes a nested active layer out of the tree as well.
    const bool wasActive =
        active && (active->isEqual(*removed) ||
                   (asContainer(removed) && asContainer(removed)->path(*active).has_value()));
    layers.erase(layers.begin() + static_cast<std::ptrdiff_t>(i));
    delegates_ | [&](LayeredCanvasDelegate& d) { d.layeredCanvasDidRemove(*this, removed, path); };
    if (wasActive) {
        const auto closest = closestPath(path);
        setActiveLayer(closest ? layer(*closest) : nullptr);
    }
}

void LayeredCanvas::moveLayer(const IndexPath& from, const IndexPath& to) {
    if (from == to || isPrefix(from, to)) {
        // Equal paths, or a destination inside the moved layer (a cycle).
        fatalError("Internal inconcistency");
    }
    const auto source = container(from);
    const auto destination = container(to);
    const size_t f = lastIndex(from);
    lastIndex(to);
    if (!source || !destination || f >= source->immediateLayers().size()) {
        fatalError("Internal inconcistency");
    }
    const IndexPath corrected = havingRemoved(to, from);
    const size_t t = lastIndex(corrected);
    const size_t remaining =
        destination->immediateLayers().size() - (source == destination ? 1 : 0);
    if (t > remaining) {
        fatalError("Internal inconcistency");
    }
    auto& sourceLayers = source->immediateLayers();
    const std::shared_ptr<Layer> moved = sourceLayers[f];
    sourceLayers.erase(sourceLayers.begin() + static_cast<std::ptrdiff_t>(f));
    auto& destinationLayers = destination->immediateLayers();
    destinationLayers.insert(destinationLayers.begin() + static_cast<std::ptrdiff_t>(t), moved);
    delegates_ | [&](LayeredCanvasDelegate& d) {
        d.layeredCanvasDidMove(*this, moved, from, to, source, destination);
    };
}

void LayeredCanvas::encode(Encoder& encoder) const {
    KeyedEncodingContainer container = encoder.container();
    container.encode(size_, kSizeKey);
    container.encode(immediateLayers_, kLayersKey);
}

std::shared_ptr<LayeredCanvas> LayeredCanvas::decode(Decoder& decoder) {
    const KeyedDecodingContainer container = decoder.container();
    const MTLSize size = container.decode<MTLSize>(kSizeKey);
    if (!isAcceptableCanvasSize(size)) {
        throw DecodingError(size);
    }
    std::shared_ptr<LayeredCanvas> canvas(new LayeredCanvas(Decoding{}, size));
    canvas->immediateLayers_ = decodeFamily<LayerFamily, Layer>(container, kLayersKey);
    // Identifiers address layers (undo, lookup); a damaged or merged document
    // must not make two layers answer to one.
    std::unordered_set<UUID> seen;
    for (const auto& layer : canvas->layerTree()->flattenedValues()) {
        while (!seen.insert(layer->uuid()).second) {
            layer->assignNewUUID();
        }
    }
    return canvas;
}

bool LayeredCanvas::isEqual(const LayeredCanvas& other) const {
    if (size_ != other.size_) {
        return false;
    }
    const auto mine = layerTree();
    const auto theirs = other.layerTree();
    if (mine->children.size() != theirs->children.size()) {
        return false;
    }
    const auto equal = [](const std::shared_ptr<Layer>& a, const std::shared_ptr<Layer>& b) {
        return a->isEqual(*b);
    };
    for (size_t i = 1; i < mine->children.size(); ++i) {
        if (!mine->children[i]->isEqual(*theirs->children[i], equal)) {
            return false;
        }
    }
    return true;
}

std::size_t LayeredCanvas::hash() const {
    Hasher hasher;
    hasher.combine(std::hash<MTLSize>()(size_));
    hasher.combine(immediateLayers_.size());
    for (const auto& layer : immediateLayers_) {
        hasher.combine(layer->hash());
    }
    return hasher.finalize();
}

std::string LayeredCanvas::description() const {
    std::string text = "size: " + velmora::description(size_) + ", layers: [\n\t";
    for (size_t i = 0; i < immediateLayers_.size(); ++i) {
        if (i > 0) {
            text += ",\n\t ";
        }
        text += immediateLayers_[i]->description();
    }
    return text + "\n]";
}

std::string LayeredCanvas::debugDescription() const {
    std::string text = "size: " + velmora::description(size_) + ", layers: [";
    for (size_t i = 0; i < immediateLayers_.size(); ++i) {
        if (i > 0) {
            text += ", ";
        }
        text += immediateLayers_[i]->debugDescription();
    }
    return text + "]";
}

} // namespace velmora
