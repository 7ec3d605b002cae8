#pragma once

#include "Canvas/BlendMode.hpp"
#include "Canvas/LayerDelegate.hpp"
#include "Extensions/TreeNode.hpp"
#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "MulticastDelegate/MulticastDelegate.hpp"
#include "TypedCodable/TypedCodable.hpp"
#include "foundation/UUID.hpp"
#include "imaging/CIFilter.hpp"
#include "imaging/CIImage.hpp"

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

class Layer;
using LayerTree = TreeNode<std::shared_ptr<Layer>>;

// The base of every layer: identity, name, blend mode, visibility, opacity
// and the subscribers to their changes. Layers are always owned by
// std::shared_ptr (the tree hands them out as such).
class Layer : public TypedCodable, public std::enable_shared_from_this<Layer> {
public:
    ~Layer() override;
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    const UUID& uuid() const { return uuid_; }
    const std::string& name() const { return name_; }
    void setName(std::string name);

    BlendMode blendMode() const { return blendMode_; }
    void setBlendMode(BlendMode mode);
    bool visible() const { return visible_; }
    void setVisible(bool visible);
    float opacity() const { return opacity_; }
    // Outside 0...1 or NaN stops the program.
    void setOpacity(float opacity);

    MulticastDelegate<LayerDelegate>& delegates() { return delegates_; }

    // The union of `regions`; the zero region when none is non-empty.
    MTLRegion boundingRect() const;
    // Visibility and opacity applied. Reuses the layer's one filter, so calls
    // on one layer must not overlap.
    CIImage applyingAlpha(const CIImage& image) const;

    // A new leaf holding this layer; groups add their subtrees.
    virtual LayerTree::Pointer layerTree() const;
    // The canvas regions that hold the layer's own content, in any order.
    virtual std::vector<MTLRegion> regions() const;
    // The layer's content covering at least `region`, in canvas pixels,
    // without visibility and opacity.
    virtual CIImage image(const MTLRegion& region) const;
    virtual void moveContents(const MTLVector& vector);

    void typedEncode(Encoder& encoder) const override;

    // The name.
    virtual std::string description() const;
    // "<RasterLayer: name, UUID, sourceOver>".
    virtual std::string debugDescription() const;
    // Same identifier, name and blend mode; visibility and opacity take no
    // part. Subclasses add their own conditions.
    virtual bool isEqual(const Layer& other) const;
    virtual std::size_t hash() const;

protected:
    explicit Layer(std::string name);
    // Reads the base keys from the container the subclass hands out under
    // "super". A stored opacity outside 0...1 is clamped (NaN becomes 1), so
    // neither a setter nor compositing ever sees it.
    explicit Layer(Decoder& base);

    std::shared_ptr<Layer> sharedLayer() const;

private:
    friend class LayeredCanvas; // gives decoded duplicates fresh identifiers
    void assignNewUUID() { uuid_ = UUID(); }

    UUID uuid_;
    std::string name_;
    BlendMode blendMode_ = BlendMode::normal;
    bool visible_ = true;
    float opacity_ = 1;
    MulticastDelegate<LayerDelegate> delegates_;
    std::shared_ptr<CIFilter> alphaFilter_;
};

std::ostream& operator<<(std::ostream& os, const Layer& layer);

} // namespace velmora
