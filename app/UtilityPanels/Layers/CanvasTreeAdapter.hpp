#pragma once

#include "Canvas/LayeredCanvas.hpp"
#include "UtilityPanels/Layers/LayerTreeController.hpp"

#include <memory>

namespace velmora {

// Keeps a tree controller in step with one canvas: the layers in the
// outline's order (each container's last layer first), every insertion,
// removal and move the canvas announces, and the active layer as the
// selection. Never changes the canvas. Made with `make`; main thread only.
class CanvasTreeAdapter : public LayeredCanvasDelegate,
                          public std::enable_shared_from_this<CanvasTreeAdapter> {
    struct Token {};

public:
    static std::shared_ptr<CanvasTreeAdapter> make(std::shared_ptr<LayeredCanvas> canvas);
    CanvasTreeAdapter(Token, std::shared_ptr<LayeredCanvas> canvas);
    ~CanvasTreeAdapter() override;
    CanvasTreeAdapter(const CanvasTreeAdapter&) = delete;
    CanvasTreeAdapter& operator=(const CanvasTreeAdapter&) = delete;

    LayerTreeController& treeController() const { return *treeController_; }
    const std::shared_ptr<LayeredCanvas>& canvas() const { return canvas_; }

    // The outline path of a model path: at each level, count − 1 − index. A
    // path through a layer that is no group stops the program.
    IndexPath arrangedIndexPath(const IndexPath& modelPath) const;

    void layeredCanvasDidInsert(LayeredCanvas& canvas, const std::shared_ptr<Layer>& layer,
                                const IndexPath& path) override;
    void layeredCanvasDidRemove(LayeredCanvas& canvas, const std::shared_ptr<Layer>& layer,
                                const IndexPath& path) override;
    void layeredCanvasDidMove(LayeredCanvas& canvas, const std::shared_ptr<Layer>& layer,
                              const IndexPath& from, const IndexPath& to,
                              const std::shared_ptr<LayerContainer>& fromContainer,
                              const std::shared_ptr<LayerContainer>& toContainer) override;

private:
    void activeLayerDidChange();
    // Where the layer's node is; not finding it stops the program.
    IndexPath arrangedPath(const Layer& layer) const;

    std::unique_ptr<LayerTreeController> treeController_;
    std::shared_ptr<LayeredCanvas> canvas_;
    std::shared_ptr<void> activeLayerObservation_;
};

} // namespace velmora
