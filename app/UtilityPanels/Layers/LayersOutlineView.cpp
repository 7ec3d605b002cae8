#include "UtilityPanels/Layers/LayersOutlineView.hpp"

#include <QDragMoveEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QMouseEvent>

namespace velmora {

namespace {

constexpr const char* layerPasteboardType = "Velmora.Layer";

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
    const QModelIndex dragged = currentIndex();
    clipView_->setMaxScrollingPerSecond(dragScrollingLimit);
    if (draggingSessionWillBegin) {
        draggingSessionWillBegin(dragged);
    }
    QTreeView::startDrag(supportedActions);
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

void LayersOutlineView::mousePressEvent(QMouseEvent* event) {
    // A press below the rows clears the selection.
    if (!indexAt(event->position().toPoint()).isValid() && selectionModel() != nullptr) {
        selectionModel()->clear();
    }
    QTreeView::mousePressEvent(event);
}

} // namespace velmora
