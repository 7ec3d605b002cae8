#pragma once

#include "foundation/IndexPath.hpp"

#include <memory>

namespace velmora {

class Layer;
class LayerContainer;
class LayeredCanvas;

// A subscriber to the edits of a canvas's layer tree, told after the tree has
// changed and before the active layer does.
class LayeredCanvasDelegate {
public:
    virtual ~LayeredCanvasDelegate() = default;
    virtual void layeredCanvasDidInsert(LayeredCanvas& canvas, const std::shared_ptr<Layer>& layer,
                                        const IndexPath& path) = 0;
    // The layer is kept alive for the call only.
    virtual void layeredCanvasDidRemove(LayeredCanvas& canvas, const std::shared_ptr<Layer>& layer,
                                        const IndexPath& path) = 0;
    // `to` as the caller gave it, counted before the removal at `from`.
    virtual void layeredCanvasDidMove(LayeredCanvas& canvas, const std::shared_ptr<Layer>& layer,
                                      const IndexPath& from, const IndexPath& to,
                                      const std::shared_ptr<LayerContainer>& fromContainer,
                                      const std::shared_ptr<LayerContainer>& toContainer) = 0;
};

} // namespace velmora
