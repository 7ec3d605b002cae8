// The drawing controller's answers to edits of the layer tree and of layer
// properties: log, redraw, and register the inverse edit.

#include "Canvas/LayerFamily.hpp"
#include "Document/Viewers/DrawingController.hpp"
#include "Extensions/IndexPathExtensions.hpp"
#include "TypedCodable/FamilyDecoding.hpp"
#include "coding/KeyedArchiver.hpp"
#include "coding/KeyedUnarchiver.hpp"
#include "foundation/FatalError.hpp"
#include "foundation/LogHandles.hpp"

#include <exception>
#include <string>

namespace velmora {

namespace {

constexpr std::string_view layerKey = "Layer";

std::vector<uint8_t> archive(const std::shared_ptr<Layer>& layer) {
    try {
        KeyedArchiver archiver(true);
        archiver.encodeEncodable(layer, layerKey);
        return archiver.encodedData();
    } catch (const std::exception& error) {
        fatalError(std::string("A removed layer could not be archived: ") + error.what());
    }
}

std::shared_ptr<Layer> unarchive(const SnapshotStore::Item& archived) {
    std::shared_ptr<Layer> layer;
    try {
        const auto bytes = archived.bytes();
        KeyedUnarchiver unarchiver(*bytes);
        layer = decodeDecodable<LayerFamily, Layer>(unarchiver, layerKey);
    } catch (const std::exception& error) {
        fatalError(std::string("A removed layer could not be read back: ") + error.what());
    }
    if (layer == nullptr) {
        fatalError("A removed layer could not be read back");
    }
    return layer;
}

} // namespace

void DrawingController::subscribe(const std::shared_ptr<Layer>& layer) {
    const auto self = std::static_pointer_cast<LayerDelegate>(shared_from_this());
    layer->layerTree()->recursiveForEach(
        [&](const std::shared_ptr<Layer>& each, const auto&) { each->delegates() += self; });
}

void DrawingController::unsubscribe(const std::shared_ptr<Layer>& layer) {
    const auto self = std::static_pointer_cast<LayerDelegate>(shared_from_this());
    layer->layerTree()->recursiveForEach(
        [&](const std::shared_ptr<Layer>& each, const auto&) { each->delegates() -= self; });
}

void DrawingController::redraw(const MTLRegion& region, bool now,
                               const std::shared_ptr<Layer>& changed) {
    renderedCanvas_->needsUpdate(region, changed);
    const auto d = delegate();
    const auto view = d ? d->canvasView() : nullptr;
    if (view == nullptr) {
        return;
    }
    if (now) {
        view->draw();
    } else {
        view->setNeedsDisplay(true);
    }
}

void DrawingController::layeredCanvasDidInsert(LayeredCanvas&, const std::shared_ptr<Layer>& layer,
                                               const IndexPath& path) {
    userActionsLogs().log("Canvas: inserted layer %{public}@ at %{public}@", layer->description(),
                          path.description());
    subscribe(layer);
    redraw(layer->boundingRect(), true);
    const auto manager = undoManager();
    if (manager == nullptr) {
        return;
    }
    manager->registerUndo<DrawingController>(shared_from_this(),
                                             [weakCanvas = canvas_, path](auto&) {
                                                 if (const auto c = weakCanvas.lock()) {
                                                     c->removeLayer(path);
                                                 }
                                             });
    manager->setActionName(manager->isUndoing() ? "Remove Layer" : "Add Layer");
}

void DrawingController::layeredCanvasDidRemove(LayeredCanvas&, const std::shared_ptr<Layer>& layer,
                                               const IndexPath& path) {
    userActionsLogs().log("Canvas: removed layer %{public}@ at %{public}@", layer->description(),
                          path.description());
    unsubscribe(layer);
    redraw(layer->boundingRect(), true);
    const auto manager = undoManager();
    if (manager == nullptr) {
        return;
    }
    // The archive may be as large as the layer: the history's store keeps it.
    manager->registerUndo<DrawingController>(
        shared_from_this(),
        [archived = snapshotStore_->keep(archive(layer)), weakCanvas = canvas_, path](auto&) {
            const auto restored = unarchive(*archived);
            if (const auto c = weakCanvas.lock()) {
                c->insertLayer(restored, path);
            }
        });
    manager->setActionName(manager->isUndoing() ? "Add Layer" : "Remove Layer");
}

void DrawingController::layeredCanvasDidMove(LayeredCanvas&, const std::shared_ptr<Layer>& layer,
                                             const IndexPath& from, const IndexPath& to,
                                             const std::shared_ptr<LayerContainer>&,
                                             const std::shared_ptr<LayerContainer>&) {
    userActionsLogs().log("Canvas: moved layer %{public}@ from %{public}@ to %{public}@",
                          layer->description(), from.description(), to.description());
    redraw(layer->boundingRect(), true);
    const auto manager = undoManager();
    if (manager == nullptr) {
        return;
    }
    // `to` was counted before the removal at `from`; the move back is counted
    // the same way from where the layer is now.
    manager->registerUndo<DrawingController>(
        shared_from_this(), [weakCanvas = canvas_, from, to](auto&) {
            if (const auto c = weakCanvas.lock()) {
                c->moveLayer(havingRemoved(to, from), havingInserted(from, to));
            }
        });
    manager->setActionName("Move Layer");
}

void DrawingController::layerDidChangeBlendMode(const std::shared_ptr<Layer>& layer, BlendMode from,
                                                BlendMode to) {
    userActionsLogs().log("Layer: %{public}@. Blend mode changed from %{public}@ to %{public}@",
                          layer->description(), rawValue(from), rawValue(to));
    redraw(layer->boundingRect(), true, layer);
    registerLayerUndo(
        layer, [from](Layer& restored) { restored.setBlendMode(from); }, "Blend Mode Change");
}

void DrawingController::layerDidChangeVisibility(const std::shared_ptr<Layer>& layer) {
    const bool visible = layer->visible();
    userActionsLogs().log("Layer: %{public}@. Visibility changed to %{public}@",
                          layer->description(), visible ? "true" : "false");
    redraw(layer->boundingRect(), true, layer);
    registerLayerUndo(
        layer, [visible](Layer& restored) { restored.setVisible(!visible); },
        "Layer Visibility Change");
}

void DrawingController::layerDidChangeOpacity(const std::shared_ptr<Layer>& layer, float from,
                                              float to) {
    userActionsLogs().log("Layer: %{public}@. Opacity changed from %f to %f", layer->description(),
                          from, to);
    redraw(layer->boundingRect(), false, layer);
    registerLayerUndo(
        layer, [from](Layer& restored) { restored.setOpacity(from); }, "Layer Opacity Change");
}

void DrawingController::layerDidChangeName(const std::shared_ptr<Layer>& layer,
                                           const std::string& from, const std::string& to) {
    userActionsLogs().log("Layer: %{public}@. Name changed from %{public}@ to %{public}@",
                          layer->description(), from, to);
    registerLayerUndo(
        layer, [from](Layer& restored) { restored.setName(from); }, "Layer Name Change");
}

void DrawingController::registerLayerUndo(const std::shared_ptr<Layer>& layer,
                                          std::function<void(Layer&)> restore,
                                          const std::string& actionName) {
    const auto manager = undoManager();
    if (manager == nullptr) {
        return;
    }
    manager->registerUndo<DrawingController>(
        shared_from_this(),
        [weakCanvas = canvas_, uuid = layer->uuid(), restore = std::move(restore)](auto&) {
            if (const auto c = weakCanvas.lock()) {
                restore(*(*c)[uuid]);
            }
        });
    manager->setActionName(actionName);
}

} // namespace velmora
