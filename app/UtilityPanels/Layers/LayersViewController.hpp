#pragma once

#include "Canvas/LayeredCanvas.hpp"
#include "Document/DocumentDelegate.hpp"
#include "UtilityPanels/Layers/CanvasTreeAdapter.hpp"
#include "UtilityPanels/Layers/LayerOutlineDataSource.hpp"
#include "UtilityPanels/Layers/LayersOutlineView.hpp"
#include "desktop/NSKeyValueObservation.hpp"
#include "desktop/NSViewController.hpp"

#include <QPointer>
#include <memory>
#include <optional>
#include <vector>

namespace velmora {

class Document;
class FrontDocumentController;
class NSDocument;
class NSSegmentedControl;

// The Layers panel: the front document's layer tree, topmost layer first.
// Its buttons add a raster layer or a group above the selected layer and
// delete the selected layer; selecting a row makes its layer active; rows
// are reordered by dragging and image files dropped between rows become
// layers. Every change goes to the canvas, whose subscribers make it
// undoable. Main thread only.
class LayersViewController : public NSViewController, public LayerOutlineDataSource {
public:
    static constexpr const char* layerPasteboardType = "Velmora.Layer";

    explicit LayersViewController(FrontDocumentController* tracker = nullptr);
    ~LayersViewController() override;

    QPointer<LayersOutlineView> outlineView;
    QPointer<NSSegmentedControl> layerControls;
    ThrottledClipView* layersClipView() const;
    const std::shared_ptr<CanvasTreeAdapter>& adapter() const { return adapter_; }
    const std::vector<NSPasteboardType>& filePromisePasteboardTypes() const {
        return filePromisePasteboardTypes_;
    }

    void loadView() override;
    void viewDidLoad() override;

    void layerControlPressed(int segment);
    void outlineViewSelectionDidChange();
    void updateLayerControls();
    void documentContentDidChange(Document& document);

    // The row view of a node.
    QWidget* viewForItem(const LayerNode& node);
    // The layer being dragged from this panel, recorded until the drag ends.
    void draggingSessionWillBegin(const std::shared_ptr<Layer>& layer);
    void draggingSessionEnded();

    std::optional<NSPasteboardItem> pasteboardWriter(const LayerNode& node) override;
    NSDragOperation validateDrop(const NSDraggingInfo& info, const LayerNode* item,
                                 int64_t childIndex) override;
    bool acceptDrop(const NSDraggingInfo& info, const LayerNode* item, int64_t childIndex) override;
    // The model path where a drop between the rows of `item` (none: the
    // top level) at `childIndex` puts a layer.
    std::optional<IndexPath> dropDestination(const LayerNode* item, int64_t childIndex) const;
    bool moveLayer(const IndexPath& source, const IndexPath& destination);

private:
    class DocumentForwarder;

    std::shared_ptr<NSDocument> frontDocument() const;
    std::shared_ptr<Document> frontLayeredDocument() const;
    std::shared_ptr<LayeredCanvas> frontLayeredCanvas() const;
    void frontDocumentDidChange(const std::shared_ptr<NSDocument>& document);
    void setAdapter(std::shared_ptr<CanvasTreeAdapter> adapter);

    FrontDocumentController* tracker_;
    NSKeyValueObservation activeDocumentObservation_;
    std::shared_ptr<CanvasTreeAdapter> adapter_;
    std::vector<NSPasteboardType> filePromisePasteboardTypes_;
    std::shared_ptr<DocumentForwarder> documentForwarder_;
    std::weak_ptr<Document> observedDocument_;
    std::weak_ptr<Layer> draggedLayer_;
    bool dragging_ = false;
};

} // namespace velmora
