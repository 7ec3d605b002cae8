#include "UtilityPanels/Tools/BrushTableView.hpp"

#include "Utils/ThrottledClipView.hpp"

#include <QDrag>
#include <QHeaderView>
#include <QMimeData>
#include <QMouseEvent>

namespace velmora {

BrushTableView::BrushTableView(QWidget* parent)
    : QTableView(parent), clipView_(new ThrottledClipView(*this)) {
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setDragDropOverwriteMode(false);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    horizontalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->hide();
    setShowGrid(false);
}

void BrushTableView::startDrag(Qt::DropActions supportedActions) {
    QModelIndexList indexes;
    for (const QModelIndex& index : selectedIndexes()) {
        if (model()->flags(index).testFlag(Qt::ItemIsDragEnabled)) {
            indexes.append(index);
        }
    }
    QMimeData* data = indexes.isEmpty() ? nullptr : model()->mimeData(indexes);
    if (data == nullptr) {
        return;
    }
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    const QRect row = visualRect(indexes.front());
    drag->setPixmap(viewport()->grab(row));
    drag->setHotSpot(pressedPosition_ - row.topLeft());
    clipView_->setMaxScrollingPerSecond(dragScrollingLimit);
    if (draggingSessionWillBegin) {
        draggingSessionWillBegin(*data, supportedActions);
    }
    // The drop has moved the row already: unlike the base class, nothing is
    // removed after a move.
    drag->exec(supportedActions, Qt::MoveAction);
    if (clipView_) {
        clipView_->setMaxScrollingPerSecond(std::nullopt);
    }
}

void BrushTableView::mousePressEvent(QMouseEvent* event) {
    pressedPosition_ = event->position().toPoint();
    QTableView::mousePressEvent(event);
}

void BrushTableView::timerEvent(QTimerEvent* event) {
    if (state() == DraggingState && clipView_) {
        clipView_->throttleAutoscroll([&] { QTableView::timerEvent(event); });
    } else {
        QTableView::timerEvent(event);
    }
}

} // namespace velmora
