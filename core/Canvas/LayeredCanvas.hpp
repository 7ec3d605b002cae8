#pragma once

#include "Canvas/CanvasSize.hpp"
#include "Canvas/LayerContainer.hpp"
#include "Canvas/LayeredCanvasDelegate.hpp"
#include "graphics/BitmapRepresentable.hpp"

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

// The picture of a document: a fixed size, the top-level layers (bottom
// first), the active layer and the subscribers to edits of the tree. Owned by
// std::shared_ptr; main thread only.
class LayeredCanvas : public LayerContainer, public std::enable_shared_from_this<LayeredCanvas> {
public:
    class DecodingError : public std::exception {
    public:
        enum class Kind { unsupportedImageSize };
        explicit DecodingError(MTLSize currentSize);
        Kind kind() const { return Kind::unsupportedImageSize; }
        const MTLSize& currentSize() const { return currentSize_; }
        const char* what() const noexcept override { return message_.c_str(); }

    private:
        MTLSize currentSize_;
        std::string message_;
    };

    using ActiveLayerObserver = std::function<void(LayeredCanvas&)>;

    // One raster layer "Background", which is active. An unacceptable size
    // stops the program.
    static std::shared_ptr<LayeredCanvas> make(const MTLSize& size);
    // The bitmap as the one layer, named `layerName`.
    static std::shared_ptr<LayeredCanvas> make(BitmapRepresentable& bitmap,
                                               const std::string& layerName);
    static std::shared_ptr<LayeredCanvas> make(const MTLSize& size, std::shared_ptr<Layer> layer);

    LayeredCanvas(const MTLSize& size, std::shared_ptr<Layer> layer);
    LayeredCanvas(const LayeredCanvas&) = delete;
    LayeredCanvas& operator=(const LayeredCanvas&) = delete;

    const MTLSize& size() const { return size_; }
    Layers& immediateLayers() override { return immediateLayers_; }
    const Layers& immediateLayers() const override { return immediateLayers_; }
    void setImmediateLayers(Layers layers) { immediateLayers_ = std::move(layers); }

    // None once the layer is gone.
    std::shared_ptr<Layer> activeLayer() const { return activeLayer_.lock(); }
    // Observers are told after every run, also when nothing changed.
    void setActiveLayer(const std::shared_ptr<Layer>& layer);
    // The observer is told while the returned token lives.
    [[nodiscard]] std::shared_ptr<void> observeActiveLayer(ActiveLayerObserver observer);

    MulticastDelegate<LayeredCanvasDelegate>& delegates() { return delegates_; }

    // A transient group "root" holding a new white "Filled Layer" below the
    // canvas's layers; built anew on every read.
    LayerTree::Pointer layerTree() const override;
    std::shared_ptr<LayerContainer> sharedContainer() const override;

    // A missing layer stops the program.
    std::shared_ptr<Layer> operator[](const UUID& uuid) const;

    // Each edit changes the tree, then tells every delegate, then touches the
    // active layer. A path that names no position, or an edit that would put
    // a group inside itself, stops the program.
    void insertLayer(const std::shared_ptr<Layer>& layer, const IndexPath& path);
    // The active layer, or a group holding it, passes its activity to the
    // layer at the closest remaining path.
    void removeLayer(const IndexPath& path);
    // `to` is an insertion point counted before the removal at `from`.
    void moveLayer(const IndexPath& from, const IndexPath& to);

    // "size" and "layers". The active layer and the delegates are not stored.
    void encode(Encoder& encoder) const;
    // Throws DecodingError for a size outside 1 x 1 ... 8000 x 8000 x 1 before
    // any layer is read. Identifiers that repeat are replaced by new ones.
    static std::shared_ptr<LayeredCanvas> decode(Decoder& decoder);

    // Same size and equal layer trees; the active layer is not compared.
    bool isEqual(const LayeredCanvas& other) const;
    std::size_t hash() const;
    std::string description() const override;
    std::string debugDescription() const;

private:
    struct Decoding {};
    LayeredCanvas(Decoding, const MTLSize& size) : size_(size) {}

    MTLSize size_;
    Layers immediateLayers_;
    std::weak_ptr<Layer> activeLayer_;
    MulticastDelegate<LayeredCanvasDelegate> delegates_;
    std::vector<std::weak_ptr<ActiveLayerObserver>> activeLayerObservers_;
};

} // namespace velmora
