#pragma once

#include "UtilityPanels/Layers/LayerNode.hpp"
#include "UtilityPanels/Layers/LayerOutlineDataSource.hpp"
#include "foundation/IndexPath.hpp"

#include <QAbstractItemModel>
#include <QItemSelectionModel>
#include <memory>
#include <optional>
#include <vector>

namespace velmora {

// The layers outline's model: a tree of LayerNodes, one column whose display
// text is the layer's name, with a single selection. Index paths count rows
// from the top of each level. Every change goes through the begin/end calls
// of rows inserted, removed or moved, so views and the selection follow the
// nodes. Drags and drops are answered by the data source. Main thread only.
class LayerTreeController : public QAbstractItemModel {
public:
    // Points of one row.
    static constexpr int rowHeight = 30;

    explicit LayerTreeController(std::vector<std::shared_ptr<LayerNode>> content = {});
    ~LayerTreeController() override;

    // The top-level nodes.
    const std::vector<std::shared_ptr<LayerNode>>& arrangedObjects() const { return content_; }
    QItemSelectionModel* selectionModel() const { return selectionModel_; }

    std::weak_ptr<LayerOutlineDataSource> dataSource;

    // A path that names no place in the tree stops the program.
    void insertObject(std::shared_ptr<LayerNode> node, const IndexPath& path);
    void removeObject(const IndexPath& path);
    // `path` is counted in the tree that still holds the node; a move that
    // leaves the node where it is changes nothing.
    void moveNode(const std::shared_ptr<LayerNode>& node, const IndexPath& path);

    // None clears the selection.
    void setSelectionIndexPath(const std::optional<IndexPath>& path);
    std::optional<IndexPath> selectionIndexPath() const;
    std::shared_ptr<Layer> selectedLayer() const;

    // Depth first, a node before its children, by identity.
    std::optional<IndexPath> indexPath(const Layer& layer) const;
    std::optional<IndexPath> indexPath(const LayerNode& node) const;
    // None for the empty path and for a path that names no node.
    std::shared_ptr<LayerNode> descendantNode(const IndexPath& path) const;
    LayerNode* node(const QModelIndex& index) const;
    QModelIndex modelIndex(const IndexPath& path) const;
    IndexPath indexPath(const QModelIndex& index) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // A group has children even while it is empty.
    bool hasChildren(const QModelIndex& parent = {}) const override;

    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override;
    Qt::DropActions supportedDropActions() const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

private:
    std::vector<std::shared_ptr<LayerNode>>& childrenOf(LayerNode* node);
    const std::vector<std::shared_ptr<LayerNode>>& childrenOf(const LayerNode* node) const;
    // The node's row among its siblings.
    int rowOf(const LayerNode& node) const;
    QModelIndex indexOf(LayerNode* node) const;
    // The parent node of the place at `path` (null: the top level) and the row.
    std::pair<std::shared_ptr<LayerNode>, int> place(const IndexPath& path, bool inserting) const;

    std::vector<std::shared_ptr<LayerNode>> content_;
    QItemSelectionModel* selectionModel_;
};

} // namespace velmora
