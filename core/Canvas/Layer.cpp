#include "Canvas/Layer.hpp"

#include "foundation/FatalError.hpp"
#include "foundation/Hasher.hpp"

#include <cmath>
#include <ostream>
#include <typeinfo>
#include <utility>

namespace velmora {

namespace {

constexpr std::string_view kUUIDKey = "uuid";
constexpr std::string_view kNameKey = "name";
constexpr std::string_view kBlendModeKey = "blendMode";
constexpr std::string_view kVisibleKey = "visible";
constexpr std::string_view kOpacityKey = "opacity";

std::shared_ptr<CIFilter> makeAlphaFilter() {
    auto filter = CIFilter::named("CIColorMatrix");
    precondition(filter != nullptr, "The colour matrix filter is missing");
    return filter;
}

UUID decodeUUID(const KeyedDecodingContainer& container) {
    const std::string text = container.decode<std::string>(kUUIDKey);
    if (const auto uuid = UUID::fromString(text)) {
        return *uuid;
    }
    throw container.dataCorruptedError(kUUIDKey,
                                       "Attempted to decode UUID from invalid UUID string.");
}

float sanitizedOpacity(float opacity) {
    if (std::isnan(opacity)) {
        return 1;
    }
    return std::clamp(opacity, 0.0f, 1.0f);
}

} // namespace

Layer::Layer(std::string name) : name_(std::move(name)), alphaFilter_(makeAlphaFilter()) {}

Layer::Layer(Decoder& base) : alphaFilter_(makeAlphaFilter()) {
    const KeyedDecodingContainer container = base.container();
    uuid_ = decodeUUID(container);
    name_ = container.decode<std::string>(kNameKey);
    blendMode_ = container.decode<BlendMode>(kBlendModeKey);
    visible_ = container.decode<bool>(kVisibleKey);
    opacity_ = sanitizedOpacity(container.decode<float>(kOpacityKey));
}

Layer::~Layer() = default;

std::shared_ptr<Layer> Layer::sharedLayer() const {
    // Layers hand themselves out as the tree's values; const only for the caller.
    return std::const_pointer_cast<Layer>(shared_from_this());
}

void Layer::setName(std::string name) {
    if (name == name_) {
        return;
    }
    std::string old = std::exchange(name_, std::move(name));
    const auto self = sharedLayer();
    delegates_ | [&](LayerDelegate& d) { d.layerDidChangeName(self, old, name_); };
}

void Layer::setBlendMode(BlendMode mode) {
    const BlendMode old = blendMode_;
    blendMode_ = mode;
    if (old == mode) {
        return;
    }
    const auto self = sharedLayer();
    delegates_ | [&](LayerDelegate& d) { d.layerDidChangeBlendMode(self, old, blendMode_); };
}

void Layer::setVisible(bool visible) {
    const bool old = visible_;
    visible_ = visible;
    if (old == visible) {
        return;
    }
    const auto self = sharedLayer();
    delegates_ | [&](LayerDelegate& d) { d.layerDidChangeVisibility(self); };
}

void Layer::setOpacity(float opacity) {
    const float old = opacity_;
    if (!(opacity >= 0 && opacity <= 1)) {
        fatalError("Internal inconcistency");
    }
    opacity_ = opacity;
    if (old == opacity) {
        return;
    }
    const auto self = sharedLayer();
    delegates_ | [&](LayerDelegate& d) { d.layerDidChangeOpacity(self, old, opacity_); };
}

MTLRegion Layer::boundingRect() const {
    MTLRegion result{};
    for (const MTLRegion& region : regions()) {
        if (!isEmpty(region)) {
            result = unionWith(result, region);
        }
    }
    return result;
}

CIImage Layer::applyingAlpha(const CIImage& image) const {
    if (!visible_) {
        return CIImage::empty();
    }
    if (opacity_ == 1) {
        return image;
    }
    alphaFilter_->setDefaults();
    alphaFilter_->setValuesForKeys(
        {{kCIInputImageKey, image}, {"inputAVector", CIVector(0, 0, 0, double(opacity_))}});
    const auto output = alphaFilter_->outputImage();
    precondition(output.has_value(), "The colour matrix filter gave no image");
    return *output;
}

LayerTree::Pointer Layer::layerTree() const {
    return LayerTree::make(sharedLayer());
}

std::vector<MTLRegion> Layer::regions() const {
    fatalError("Not implemented");
}

CIImage Layer::image(const MTLRegion&) const {
    fatalError("Not implemented");
}

void Layer::moveContents(const MTLVector&) {
    fatalError("Not implemented");
}

void Layer::typedEncode(Encoder& encoder) const {
    KeyedEncodingContainer container = encoder.container();
    container.encode(uuid_.uuidString(), kUUIDKey);
    container.encode(name_, kNameKey);
    container.encode(blendMode_, kBlendModeKey);
    container.encode(visible_, kVisibleKey);
    container.encode(opacity_, kOpacityKey);
}

std::string Layer::description() const {
    return name_;
}

std::string Layer::debugDescription() const {
    return "<" + unqualifiedClassName(typeid(*this)) + ": " + name_ + ", " + uuid_.uuidString() +
           ", " + std::string(rawValue(blendMode_)) + ">";
}

bool Layer::isEqual(const Layer& other) const {
    return uuid_ == other.uuid_ && name_ == other.name_ && blendMode_ == other.blendMode_;
}

std::size_t Layer::hash() const {
    Hasher hasher;
    hasher.combine(std::hash<UUID>()(uuid_));
    hasher.combine(std::hash<std::string>()(name_));
    hasher.combine(std::hash<BlendMode>()(blendMode_));
    return hasher.finalize();
}

std::ostream& operator<<(std::ostream& os, const Layer& layer) {
    return os << layer.description();
}

} // namespace velmora
