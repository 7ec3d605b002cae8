#include "UtilityPanels/Layers/LayersOutlineView.hpp"

#include <QDrag>
#include <QDragMoveEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QMouseEvent>
#include <QStyledItemDelegate>

namespace velmora {

namespace {

constexpr const char* layerPasteboardType = "Velmora.Layer";

// Rows with a row view show the name in it: the text beneath would only cost
// shaping on every paint.
class RowBackgroundDelegate : public QStyledItemDelegate {
public:
    explicit RowBackgroundDelegate(QAbstractItemView* view)
        : QStyledItemDelegate(view), view_(view) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (view_->indexWidget(index) != nullptr) {
            option->text.clear();
            option->features &= ~QStyleOptionViewItem::HasDisplay;
        }
    }

private:
    QAbstractItemView* view_;
};

} // namespace

LayersOutlineView::LayersOutlineView(QWidget* parent)
    : QTreeView(parent), clipView_(new ThrottledClipView(*this)) {
    header()->hide();
    setUniformRowHeights(true);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setDragDropOverwriteMode(false);
    setItemDelegate(new RowBackgroundDelegate(this));
}

void LayersOutlineView::makeVisibleRowViews() {
    if (!viewForItem || model() == nullptr) {
        return;
    }
    const int bottom = viewport()->height();
    for (QModelIndex index = indexAt(QPoint(0, 0)); index.isValid(); index = indexBelow(index)) {
        if (visualRect(index).top() >= bottom) {
            break;
        }
        if (indexWidget(index) == nullptr) {
            if (QWidget* view = viewForItem(index)) {
                setIndexWidget(index, view);
            }
        }
    }
}

void LayersOutlineView::paintEvent(QPaintEvent* event) {
    makeVisibleRowViews();
    QTreeView::paintEvent(event);
}

void LayersOutlineView::startDrag(Qt::DropActions supportedActions) {
    QModelIndexList indexes;
    for (const QModelIndex& index : selectedIndexes()) {
        if (model()->flags(index).testFlag(Qt::ItemIsDragEnabled)) {
            indexes.append(index);
        }
    }
    if (indexes.isEmpty()) {
        return;
    }
    QMimeData* data = model()->mimeData(indexes);
    if (data == nullptr) {
        return;
    }
    const QModelIndex dragged = indexes.front();
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    // The row as shown, its controls included.
    if (QWidget* row = indexWidget(dragged)) {
        drag->setPixmap(row->grab());
        drag->setHotSpot(pressedPosition_ - visualRect(dragged).topLeft());
    }
    clipView_->setMaxScrollingPerSecond(dragScrollingLimit);
    if (draggingSessionWillBegin) {
        draggingSessionWillBegin(dragged);
    }
    // Whatever the outcome, the rows change only through the canvas.
    drag->exec(supportedActions, defaultDropAction());
    if (clipView_) {
        clipView_->setMaxScrollingPerSecond(std::nullopt);
    }
    if (draggingSessionEnded) {
        draggingSessionEnded();
    }
}

void LayersOutlineView::timerEvent(QTimerEvent* event) {
    if (state() == DraggingState && clipView_) {
        clipView_->throttleAutoscroll([&] { QTreeView::timerEvent(event); });
    } else {
        QTreeView::timerEvent(event);
    }
}

void LayersOutlineView::chooseDropAction(QDropEvent* event) const {
    if (!event->isAccepted()) {
        return;
    }
    const bool layer =
        event->mimeData() != nullptr && event->mimeData()->hasFormat(layerPasteboardType);
    const Qt::DropAction action = layer ? Qt::MoveAction : Qt::CopyAction;
    if (event->possibleActions().testFlag(action)) {
        event->setDropAction(action);
        event->accept();
    }
}

void LayersOutlineView::dragEnterEvent(QDragEnterEvent* event) {
    QTreeView::dragEnterEvent(event);
    chooseDropAction(event);
}

void LayersOutlineView::dragMoveEvent(QDragMoveEvent* event) {
    QTreeView::dragMoveEvent(event);
    chooseDropAction(event);
}

void LayersOutlineView::dropEvent(QDropEvent* event) {
    // Below an open or an empty group the indicator stands above its first
    // row: the drop goes there, not after the group, so that empty groups can
    // be filled.
    const QModelIndex target = indexAt(event->position().toPoint());
    const bool group = target.isValid() && model()->hasChildren(target);
    if (!group || dropIndicatorPosition() != BelowItem ||
        (!isExpanded(target) && model()->rowCount(target) > 0)) {
        QTreeView::dropEvent(event);
        return;
    }
    if (model()->dropMimeData(event->mimeData(), event->dropAction(), 0, 0, target)) {
        event->accept();
    } else {
        event->ignore();
    }
    stopAutoScroll();
    setState(NoState);
    viewport()->update();
}

void LayersOutlineView::mousePressEvent(QMouseEvent* event) {
    pressedPosition_ = event->position().toPoint();
    // A press below the rows clears the selection.
    if (!indexAt(event->position().toPoint()).isValid() && selectionModel() != nullptr) {
        selectionModel()->clear();
    }
    QTreeView::mousePressEvent(event);
}

} // namespace velmora
