#include "UtilityPanels/Layers/LayersViewController.hpp"

#include "Canvas/GroupLayer.hpp"
#include "Canvas/RasterLayer.hpp"
#include "Document/Document.hpp"
#include "Document/FrontDocumentController.hpp"
#include "Extensions/IndexPathExtensions.hpp"
#include "UtilityPanels/Layers/IndexPathCoding.hpp"
#include "UtilityPanels/Layers/LayerItemView.hpp"
#include "desktop/NSFilePromiseReceiver.hpp"
#include "desktop/NSSegmentedControl.hpp"
#include "foundation/FatalError.hpp"

#include <QIcon>
#include <QVBoxLayout>
#include <algorithm>
#include <string>

namespace velmora {

namespace {

bool isPrefix(const IndexPath& prefix, const IndexPath& path) {
    return prefix.count() <= path.count() && std::equal(prefix.begin(), prefix.end(), path.begin());
}

} // namespace

// Joins the documents' weak subscriber lists for the panel.
class LayersViewController::DocumentForwarder : public DocumentDelegate {
public:
    explicit DocumentForwarder(std::weak_ptr<LayersViewController> panel)
        : panel_(std::move(panel)) {}
    void documentContentDidChange(Document& document) override {
        if (const auto panel = panel_.lock()) {
            panel->documentContentDidChange(document);
        }
    }

private:
    std::weak_ptr<LayersViewController> panel_;
};

LayersViewController::LayersViewController(FrontDocumentController* tracker)
    : tracker_(tracker != nullptr ? tracker : &FrontDocumentController::shared()),
      filePromisePasteboardTypes_(NSFilePromiseReceiver::readableDraggedTypes()) {}

LayersViewController::~LayersViewController() {
    if (outlineView) {
        outlineView->setModel(nullptr);
    }
}

ThrottledClipView* LayersViewController::layersClipView() const {
    return outlineView ? &outlineView->clipView() : nullptr;
}

void LayersViewController::loadView() {
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 4);
    layout->setSpacing(4);
    outlineView = new LayersOutlineView(view);
    layout->addWidget(outlineView, 1);
    layerControls = new NSSegmentedControl(view);
    layerControls->setSegmentCount(3);
    const char* icons[] = {"list-add", "folder-new", "list-remove"};
    const char* labels[] = {"+", "Group", "\u2212"};
    for (int segment = 0; segment < 3; ++segment) {
        const QIcon icon = QIcon::fromTheme(QString::fromLatin1(icons[segment]));
        if (icon.isNull()) {
            layerControls->setLabel(labels[segment], segment);
        } else {
            layerControls->setImage(icon, segment);
        }
    }
    auto* row = new QHBoxLayout;
    row->setContentsMargins(4, 0, 4, 0);
    row->addWidget(layerControls);
    row->addStretch();
    layout->addLayout(row);
    setView(view);
}

void LayersViewController::viewDidLoad() {
    NSViewController::viewDidLoad();
    const std::weak_ptr<LayersViewController> weak = weakAs<LayersViewController>();
    documentForwarder_ = std::make_shared<DocumentForwarder>(weak);
    layerControls->action = [weak](NSSegmentedControl& control) {
        if (const auto self = weak.lock()) {
            self->layerControlPressed(control.selectedSegment());
        }
    };
    outlineView->viewForItem = [weak](const QModelIndex& index) -> QWidget* {
        const auto self = weak.lock();
        const LayerNode* node =
            self && self->adapter_ ? self->adapter_->treeController().node(index) : nullptr;
        return node != nullptr ? self->viewForItem(*node) : nullptr;
    };
    outlineView->draggingSessionWillBegin = [weak](const QModelIndex& index) {
        const auto self = weak.lock();
        const LayerNode* node =
            self && self->adapter_ ? self->adapter_->treeController().node(index) : nullptr;
        if (node != nullptr) {
            self->draggingSessionWillBegin(node->layer);
        }
    };
    outlineView->draggingSessionEnded = [weak] {
        if (const auto self = weak.lock()) {
            self->draggingSessionEnded();
        }
    };
    activeDocumentObservation_ = tracker_->observeFrontDocument(
        NSKeyValueObservingOptions::initial | NSKeyValueObservingOptions::newValue,
        [weak](const auto& change) {
            if (const auto self = weak.lock()) {
                self->frontDocumentDidChange(change.newValue ? change.newValue->lock() : nullptr);
            }
        });
}

std::shared_ptr<NSDocument> LayersViewController::frontDocument() const {
    return tracker_->frontDocument();
}

std::shared_ptr<Document> LayersViewController::frontLayeredDocument() const {
    auto document = std::dynamic_pointer_cast<Document>(frontDocument());
    return document && document->layeredCanvas() ? document : nullptr;
}

std::shared_ptr<LayeredCanvas> LayersViewController::frontLayeredCanvas() const {
    const auto document = frontLayeredDocument();
    return document ? document->layeredCanvas() : nullptr;
}

void LayersViewController::frontDocumentDidChange(const std::shared_ptr<NSDocument>& front) {
    // A document in the background must not take the panel over.
    if (const auto previous = observedDocument_.lock()) {
        previous->delegates -= documentForwarder_;
    }
    observedDocument_.reset();
    if (const auto document = std::dynamic_pointer_cast<Document>(front)) {
        document->delegates += std::static_pointer_cast<DocumentDelegate>(documentForwarder_);
        observedDocument_ = document;
        documentContentDidChange(*document);
        return;
    }
    setAdapter(nullptr);
    updateLayerControls();
}

void LayersViewController::documentContentDidChange(Document& document) {
    if (frontDocument().get() != &document) {
        return;
    }
    // Without a layered canvas the panel shows nothing, never the previous layers.
    const auto canvas = document.layeredCanvas();
    setAdapter(canvas ? CanvasTreeAdapter::make(canvas) : nullptr);
    updateLayerControls();
}

void LayersViewController::setAdapter(std::shared_ptr<CanvasTreeAdapter> adapter) {
    if (adapter == adapter_ && adapter) {
        return;
    }
    const auto old = std::move(adapter_);
    adapter_ = std::move(adapter);
    if (!outlineView) {
        return;
    }
    if (!adapter_) {
        outlineView->setModel(nullptr);
        return;
    }
    LayerTreeController& tree = adapter_->treeController();
    tree.dataSource =
        std::static_pointer_cast<LayerOutlineDataSource>(sharedAs<LayersViewController>());
    outlineView->setModel(&tree);
    outlineView->setSelectionModel(tree.selectionModel());
    const std::weak_ptr<LayersViewController> weak = weakAs<LayersViewController>();
    QObject::connect(tree.selectionModel(), &QItemSelectionModel::selectionChanged, outlineView,
                     [weak] {
                         if (const auto self = weak.lock()) {
                             self->outlineViewSelectionDidChange();
                         }
                     });
}

void LayersViewController::updateLayerControls() {
    if (!layerControls) {
        return;
    }
    const bool hasCanvas = frontLayeredCanvas() != nullptr;
    layerControls->setEnabled(hasCanvas, 0);
    layerControls->setEnabled(hasCanvas, 1);
    layerControls->setEnabled(
        hasCanvas && adapter_ && adapter_->treeController().selectedLayer() != nullptr, 2);
}

void LayersViewController::outlineViewSelectionDidChange() {
    updateLayerControls();
    const auto selected = adapter_ ? adapter_->treeController().selectedLayer() : nullptr;
    const auto canvas = frontLayeredCanvas();
    const auto active = canvas ? canvas->activeLayer() : nullptr;
    if (selected == active || !canvas) {
        return;
    }
    canvas->setActiveLayer(selected);
}

void LayersViewController::layerControlPressed(int segment) {
    if (segment < 0 || segment > 2) {
        fatalError("");
    }
    const auto canvas = frontLayeredCanvas();
    if (!canvas || !adapter_) {
        return;
    }
    const auto selected = adapter_->treeController().selectedLayer();
    const auto selectedPath = selected ? canvas->path(*selected) : std::nullopt;
    if (segment == 2) {
        if (!selectedPath) {
            fatalError("Internal inconcistency");
        }
        canvas->removeLayer(*selectedPath);
        updateLayerControls();
        return;
    }
    const size_t k = canvas->layerTree()->flattenedValues().size() - 1;
    std::shared_ptr<Layer> layer;
    if (segment == 0) {
        layer = RasterLayer::make("Layer " + std::to_string(k));
    } else {
        layer = GroupLayer::make("Group " + std::to_string(k));
    }
    const IndexPath path = selectedPath
                               ? next(*selectedPath)
                               : IndexPath{IndexPath::Element(canvas->immediateLayers().size())};
    canvas->insertLayer(layer, path);
    canvas->setActiveLayer(layer);
    updateLayerControls();
}

QWidget* LayersViewController::viewForItem(const LayerNode& node) {
    auto* row =
        new LayerItemView(nullptr, [tracker = tracker_] { return tracker->frontDocument(); });
    row->represent(node.layer);
    return row;
}

void LayersViewController::draggingSessionWillBegin(const std::shared_ptr<Layer>& layer) {
    draggedLayer_ = layer;
    dragging_ = true;
}

void LayersViewController::draggingSessionEnded() {
    draggedLayer_.reset();
    dragging_ = false;
}

std::optional<NSPasteboardItem> LayersViewController::pasteboardWriter(const LayerNode& node) {
    const auto canvas = frontLayeredCanvas();
    const auto path = canvas ? canvas->path(*node.layer) : std::nullopt;
    if (!path) {
        return std::nullopt;
    }
    NSPasteboardItem item;
    item.setData(encodeIndexPathJSON(*path), layerPasteboardType);
    return item;
}

NSDragOperation LayersViewController::validateDrop(const NSDraggingInfo& info, const LayerNode*,
                                                   int64_t childIndex) {
    if (childIndex == -1) {
        return NSDragOperation::none;
    }
    return info.draggingPasteboard().availableType({layerPasteboardType}) ? NSDragOperation::move
                                                                          : NSDragOperation::copy;
}

std::optional<IndexPath> LayersViewController::dropDestination(const LayerNode* item,
                                                               int64_t childIndex) const {
    const auto canvas = frontLayeredCanvas();
    if (!canvas) {
        return std::nullopt;
    }
    std::shared_ptr<LayerContainer> container = canvas;
    IndexPath destination;
    if (item != nullptr) {
        container = asContainer(item->layer);
        const auto path = canvas->path(*item->layer);
        if (!container || !path) {
            return std::nullopt;
        }
        destination = *path;
    }
    const int64_t row = childIndex == -1 ? 0 : childIndex;
    const auto count = int64_t(container->immediateLayers().size());
    if (row < 0 || row > count) {
        return std::nullopt;
    }
    destination.append(count - row);
    return destination;
}

bool LayersViewController::acceptDrop(const NSDraggingInfo& info, const LayerNode* item,
                                      int64_t childIndex) {
    const auto destination = dropDestination(item, childIndex);
    if (!destination) {
        return false;
    }
    const auto& items = info.draggingPasteboard().pasteboardItems();
    const auto data = items.empty() ? std::nullopt : items.front().data(layerPasteboardType);
    if (const auto source = data ? decodeIndexPathJSON(*data) : std::nullopt) {
        // Only this panel's own drag, naming the layer it started with, moves.
        const auto canvas = frontLayeredCanvas();
        const auto dragged = draggedLayer_.lock();
        if (!dragging_ || !dragged || !canvas || canvas->layer(*source) != dragged) {
            return false;
        }
        return moveLayer(*source, *destination);
    }
    const auto document = frontLayeredDocument();
    const auto handler = document ? document->imageDropHandler() : nullptr;
    if (!handler) {
        return false;
    }
    const MTLSize size = document->layeredCanvas()->size();
    return handler->performDrop(info, destination,
                                CGPoint{double(size.width / 2), double(size.height / 2)});
}

bool LayersViewController::moveLayer(const IndexPath& source, const IndexPath& destination) {
    if (source == destination || havingRemoved(destination, source) == source ||
        isPrefix(source, destination)) {
        return false;
    }
    const auto canvas = frontLayeredCanvas();
    if (!canvas) {
        return false;
    }
    canvas->moveLayer(source, destination);
    return true;
}

} // namespace velmora
