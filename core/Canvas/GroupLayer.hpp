#pragma once

#include "Canvas/LayerContainer.hpp"

namespace velmora {

// A named group of layers, drawn by compositing its children; it has no
// pixels of its own.
class GroupLayer : public Layer, public LayerContainer {
public:
    // Deeper nesting in a stored document fails to decode.
    static constexpr int maximumDecodingDepth = 64;

    explicit GroupLayer(std::string name) : Layer(std::move(name)) {}
    static std::shared_ptr<GroupLayer> make(std::string name) {
        return std::make_shared<GroupLayer>(std::move(name));
    }

    Layers& immediateLayers() override { return immediateLayers_; }
    const Layers& immediateLayers() const override { return immediateLayers_; }
    void setImmediateLayers(Layers layers) { immediateLayers_ = std::move(layers); }

    // The group's node with a fresh subtree of its children, built anew on
    // every call.
    LayerTree::Pointer layerTree() const override;
    std::shared_ptr<LayerContainer> sharedContainer() const override;

    // Every region of every descendant, bottom child first.
    std::vector<MTLRegion> regions() const override;
    // The empty image: a group's look comes from its children.
    CIImage image(const MTLRegion& region) const override;
    void moveContents(const MTLVector& vector) override;

    void typedEncode(Encoder& encoder) const override;
    static std::shared_ptr<GroupLayer> decode(Decoder& decoder);

    // "G: [\n\tA,\n\tB\n]".
    std::string description() const override;
    std::string debugDescription() const override;
    // Also the children, pairwise in order.
    bool isEqual(const Layer& other) const override;
    std::size_t hash() const override;

private:
    struct Decoding {};
    GroupLayer(Decoding, Decoder& base) : Layer(base) {}

    Layers immediateLayers_;
};

} // namespace velmora
