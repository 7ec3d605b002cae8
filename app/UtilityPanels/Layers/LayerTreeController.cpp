#include "UtilityPanels/Layers/LayerTreeController.hpp"

#include "desktop/NSFilePromiseReceiver.hpp"
#include "desktop/NSPasteboard.hpp"
#include "foundation/FatalError.hpp"

#include <QMimeData>
#include <QSize>
#include <algorithm>

namespace velmora {

namespace {

constexpr const char* layerPasteboardType = "Velmora.Layer";

NSDraggingInfo draggingInfo(const QMimeData& data, Qt::DropAction action) {
    const NSDragOperation mask = action == Qt::MoveAction
                                     ? NSDragOperation::move | NSDragOperation::generic
                                 : action == Qt::CopyAction ? NSDragOperation::copy
                                                            : NSDragOperation::none;
    return NSDraggingInfo(NSPasteboard::fromMimeData(data), {}, mask);
}

bool search(const std::vector<std::shared_ptr<LayerNode>>& nodes, const Layer& layer,
            IndexPath& prefix) {
    for (size_t i = 0; i < nodes.size(); ++i) {
        prefix.append(IndexPath::Element(i));
        if (nodes[i]->layer.get() == &layer || search(nodes[i]->children, layer, prefix)) {
            return true;
        }
        prefix = prefix.dropLast();
    }
    return false;
}

} // namespace

LayerTreeController::LayerTreeController(std::vector<std::shared_ptr<LayerNode>> content)
    : content_(std::move(content)), selectionModel_(new QItemSelectionModel(this, this)) {
    for (const auto& node : content_) {
        node->parent.reset();
    }
}

LayerTreeController::~LayerTreeController() = default;

std::vector<std::shared_ptr<LayerNode>>& LayerTreeController::childrenOf(LayerNode* node) {
    return node != nullptr ? node->children : content_;
}

const std::vector<std::shared_ptr<LayerNode>>&
LayerTreeController::childrenOf(const LayerNode* node) const {
    return node != nullptr ? node->children : content_;
}

int LayerTreeController::rowOf(const LayerNode& node) const {
    const auto& siblings = childrenOf(node.parent.lock().get());
    const auto found = std::find_if(siblings.begin(), siblings.end(),
                                    [&](const auto& sibling) { return sibling.get() == &node; });
    if (found == siblings.end()) {
        fatalError("Internal inconcistency");
    }
    return int(found - siblings.begin());
}

QModelIndex LayerTreeController::indexOf(LayerNode* node) const {
    return node != nullptr ? createIndex(rowOf(*node), 0, node) : QModelIndex();
}

LayerNode* LayerTreeController::node(const QModelIndex& index) const {
    return index.isValid() && index.model() == this
               ? static_cast<LayerNode*>(index.internalPointer())
               : nullptr;
}

std::shared_ptr<LayerNode> LayerTreeController::descendantNode(const IndexPath& path) const {
    std::shared_ptr<LayerNode> current;
    for (const IndexPath::Element i : path) {
        const auto& nodes = childrenOf(current.get());
        if (i < 0 || uint64_t(i) >= nodes.size()) {
            return nullptr;
        }
        current = nodes[size_t(i)];
    }
    return current;
}

std::pair<std::shared_ptr<LayerNode>, int> LayerTreeController::place(const IndexPath& path,
                                                                      bool inserting) const {
    if (path.isEmpty()) {
        fatalError("Internal inconcistency");
    }
    const auto parentNode = descendantNode(path.dropLast());
    const IndexPath::Element row = *path.last();
    const auto limit = IndexPath::Element(childrenOf(parentNode.get()).size());
    if ((path.count() > 1 && !parentNode) || row < 0 || row > limit ||
        (!inserting && row == limit)) {
        fatalError("Internal inconcistency");
    }
    return {parentNode, int(row)};
}

void LayerTreeController::insertObject(std::shared_ptr<LayerNode> node, const IndexPath& path) {
    const auto [parentNode, row] = place(path, true);
    beginInsertRows(indexOf(parentNode.get()), row, row);
    node->parent = parentNode;
    auto& siblings = childrenOf(parentNode.get());
    siblings.insert(siblings.begin() + row, std::move(node));
    endInsertRows();
}

void LayerTreeController::removeObject(const IndexPath& path) {
    const auto [parentNode, row] = place(path, false);
    beginRemoveRows(indexOf(parentNode.get()), row, row);
    auto& siblings = childrenOf(parentNode.get());
    const std::shared_ptr<LayerNode> removed = siblings[size_t(row)];
    siblings.erase(siblings.begin() + row);
    removed->parent.reset();
    endRemoveRows();
}

void LayerTreeController::moveNode(const std::shared_ptr<LayerNode>& moved, const IndexPath& path) {
    const auto from = indexPath(*moved);
    if (!from) {
        fatalError("Internal inconcistency");
    }
    const auto [destination, row] = place(path, true);
    for (auto ancestor = destination; ancestor; ancestor = ancestor->parent.lock()) {
        if (ancestor == moved) {
            fatalError("Internal inconcistency");
        }
    }
    const auto source = moved->parent.lock();
    const int sourceRow = int(*from->last());
    if (!beginMoveRows(indexOf(source.get()), sourceRow, sourceRow, indexOf(destination.get()),
                       row)) {
        return; // it would stay in place
    }
    auto& sourceNodes = childrenOf(source.get());
    sourceNodes.erase(sourceNodes.begin() + sourceRow);
    auto& destinationNodes = childrenOf(destination.get());
    const int at = source == destination && row > sourceRow ? row - 1 : row;
    destinationNodes.insert(destinationNodes.begin() + at, moved);
    moved->parent = destination;
    endMoveRows();
}

void LayerTreeController::setSelectionIndexPath(const std::optional<IndexPath>& path) {
    const QModelIndex index = path ? modelIndex(*path) : QModelIndex();
    if (!index.isValid()) {
        selectionModel_->clear();
        return;
    }
    selectionModel_->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                QItemSelectionModel::Rows);
}

std::optional<IndexPath> LayerTreeController::selectionIndexPath() const {
    const QModelIndexList selected = selectionModel_->selectedIndexes();
    if (selected.isEmpty()) {
        return std::nullopt;
    }
    return indexPath(selected.front());
}

std::shared_ptr<Layer> LayerTreeController::selectedLayer() const {
    const QModelIndexList selected = selectionModel_->selectedIndexes();
    const LayerNode* first = selected.isEmpty() ? nullptr : node(selected.front());
    return first != nullptr ? first->layer : nullptr;
}

std::optional<IndexPath> LayerTreeController::indexPath(const Layer& layer) const {
    IndexPath prefix;
    if (search(content_, layer, prefix)) {
        return prefix;
    }
    return std::nullopt;
}

std::optional<IndexPath> LayerTreeController::indexPath(const LayerNode& target) const {
    std::vector<IndexPath::Element> reversed;
    const LayerNode* current = &target;
    while (current != nullptr) {
        const auto parentNode = current->parent.lock();
        const auto& siblings = childrenOf(parentNode.get());
        const auto found = std::find_if(siblings.begin(), siblings.end(),
                                        [&](const auto& s) { return s.get() == current; });
        if (found == siblings.end()) {
            return std::nullopt;
        }
        reversed.push_back(found - siblings.begin());
        current = parentNode.get();
    }
    return IndexPath(std::vector<IndexPath::Element>(reversed.rbegin(), reversed.rend()));
}

QModelIndex LayerTreeController::modelIndex(const IndexPath& path) const {
    const auto found = descendantNode(path);
    return found ? indexOf(found.get()) : QModelIndex();
}

IndexPath LayerTreeController::indexPath(const QModelIndex& index) const {
    const LayerNode* found = node(index);
    return found != nullptr ? indexPath(*found).value_or(IndexPath()) : IndexPath();
}

QModelIndex LayerTreeController::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0 || (parent.isValid() && node(parent) == nullptr)) {
        return {};
    }
    const auto& nodes = childrenOf(node(parent));
    if (size_t(row) >= nodes.size()) {
        return {};
    }
    return createIndex(row, 0, nodes[size_t(row)].get());
}

QModelIndex LayerTreeController::parent(const QModelIndex& child) const {
    const LayerNode* found = node(child);
    if (found == nullptr) {
        return {};
    }
    return indexOf(found->parent.lock().get());
}

int LayerTreeController::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0 || (parent.isValid() && node(parent) == nullptr)) {
        return 0;
    }
    return int(childrenOf(node(parent)).size());
}

int LayerTreeController::columnCount(const QModelIndex&) const {
    return 1;
}

QVariant LayerTreeController::data(const QModelIndex& index, int role) const {
    const LayerNode* found = node(index);
    if (found == nullptr) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return QString::fromStdString(found->layer->name());
    case Qt::SizeHintRole:
        return QSize(0, rowHeight);
    default:
        return {};
    }
}

Qt::ItemFlags LayerTreeController::flags(const QModelIndex& index) const {
    const LayerNode* found = node(index);
    if (found == nullptr) {
        return Qt::ItemIsDropEnabled; // the top level takes drops
    }
    // Every row takes drops so that the view tells a drop onto a row from one
    // between rows; the data source refuses the former.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
}

bool LayerTreeController::hasChildren(const QModelIndex& parent) const {
    if (!parent.isValid()) {
        return !content_.empty();
    }
    const LayerNode* found = node(parent);
    return found != nullptr && !found->isLeaf();
}

QStringList LayerTreeController::mimeTypes() const {
    QStringList types{layerPasteboardType, QStringLiteral("text/uri-list")};
    for (const auto& type : NSFilePromiseReceiver::readableDraggedTypes()) {
        types.append(QString::fromStdString(type));
    }
    return types;
}

QMimeData* LayerTreeController::mimeData(const QModelIndexList& indexes) const {
    const auto source = dataSource.lock();
    const LayerNode* dragged = indexes.isEmpty() ? nullptr : node(indexes.front());
    if (!source || dragged == nullptr) {
        return nullptr;
    }
    auto item = source->pasteboardWriter(*dragged);
    if (!item) {
        return nullptr;
    }
    return NSPasteboard({std::move(*item)}).makeMimeData().release();
}

Qt::DropActions LayerTreeController::supportedDragActions() const {
    return Qt::MoveAction;
}

Qt::DropActions LayerTreeController::supportedDropActions() const {
    return Qt::MoveAction | Qt::CopyAction;
}

bool LayerTreeController::canDropMimeData(const QMimeData* data, Qt::DropAction action, int row,
                                          int, const QModelIndex& parent) const {
    const auto source = dataSource.lock();
    if (!source || data == nullptr || (parent.isValid() && node(parent) == nullptr)) {
        return false;
    }
    return source->validateDrop(draggingInfo(*data, action), node(parent), row) !=
           NSDragOperation::none;
}

bool LayerTreeController::dropMimeData(const QMimeData* data, Qt::DropAction action, int row,
                                       int column, const QModelIndex& parent) {
    // A drop the view delivers without asking first (onto a row) is refused
    // all the same.
    const auto source = dataSource.lock();
    if (!source || !canDropMimeData(data, action, row, column, parent)) {
        return false;
    }
    return source->acceptDrop(draggingInfo(*data, action), node(parent), row);
}

} // namespace velmora
