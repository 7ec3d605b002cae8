#include "Canvas/GroupLayer.hpp"

#include "Canvas/LayerFamily.hpp"
#include "TypedCodable/FamilyDecoding.hpp"
#include "foundation/Hasher.hpp"

namespace velmora {

namespace {

constexpr std::string_view kLayersKey = "layers";

// Groups being decoded on this thread, outermost first: a hostile document
// must not nest deep enough to exhaust the stack.
thread_local int decodingDepth = 0;

struct DepthScope {
    DepthScope() { ++decodingDepth; }
    ~DepthScope() { --decodingDepth; }
    DepthScope(const DepthScope&) = delete;
    DepthScope& operator=(const DepthScope&) = delete;
};

template <class F> std::string joined(const Layers& layers, std::string_view separator, F text) {
    std::string result;
    for (size_t i = 0; i < layers.size(); ++i) {
        if (i > 0) {
            result += separator;
        }
        result += text(*layers[i]);
    }
    return result;
}

} // namespace

LayerTree::Pointer GroupLayer::layerTree() const {
    auto node = LayerTree::make(sharedLayer());
    for (const auto& child : immediateLayers_) {
        node->addChild(child->layerTree());
    }
    return node;
}

std::shared_ptr<LayerContainer> GroupLayer::sharedContainer() const {
    return std::static_pointer_cast<GroupLayer>(sharedLayer());
}

std::vector<MTLRegion> GroupLayer::regions() const {
    std::vector<MTLRegion> result;
    for (const auto& child : immediateLayers_) {
        const auto childRegions = child->regions();
        result.insert(result.end(), childRegions.begin(), childRegions.end());
    }
    return result;
}

CIImage GroupLayer::image(const MTLRegion&) const {
    return CIImage::empty();
}

void GroupLayer::moveContents(const MTLVector& vector) {
    for (const auto& child : immediateLayers_) {
        child->moveContents(vector);
    }
}

void GroupLayer::typedEncode(Encoder& encoder) const {
    KeyedEncodingContainer container = encoder.container();
    Encoder base = container.superEncoder();
    Layer::typedEncode(base);
    container.encode(immediateLayers_, kLayersKey);
}

std::shared_ptr<GroupLayer> GroupLayer::decode(Decoder& decoder) {
    const DepthScope scope;
    const KeyedDecodingContainer container = decoder.container();
    if (decodingDepth > maximumDecodingDepth) {
        throw container.dataCorruptedError(kLayersKey, "Layer groups are nested too deeply.");
    }
    Decoder base = container.superDecoder();
    std::shared_ptr<GroupLayer> group(new GroupLayer(Decoding{}, base));
    group->immediateLayers_ = decodeFamily<LayerFamily, Layer>(container, kLayersKey);
    return group;
}

std::string GroupLayer::description() const {
    return Layer::description() + ": [\n\t" +
           joined(immediateLayers_, ",\n\t", [](const Layer& l) { return l.description(); }) +
           "\n]";
}

std::string GroupLayer::debugDescription() const {
    return Layer::debugDescription() + ": [" +
           joined(immediateLayers_, ", ", [](const Layer& l) { return l.debugDescription(); }) +
           "]";
}

bool GroupLayer::isEqual(const Layer& other) const {
    const auto* group = dynamic_cast<const GroupLayer*>(&other);
    if (group == nullptr || !Layer::isEqual(other) ||
        immediateLayers_.size() != group->immediateLayers_.size()) {
        return false;
    }
    for (size_t i = 0; i < immediateLayers_.size(); ++i) {
        if (!immediateLayers_[i]->isEqual(*group->immediateLayers_[i])) {
            return false;
        }
    }
    return true;
}

std::size_t GroupLayer::hash() const {
    Hasher hasher;
    hasher.combine(Layer::hash());
    hasher.combine(immediateLayers_.size());
    for (const auto& child : immediateLayers_) {
        hasher.combine(child->hash());
    }
    return hasher.finalize();
}

} // namespace velmora
