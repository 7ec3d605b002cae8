#include "UtilityPanels/Tools/BrushTableView.hpp"

#include "Utils/ThrottledClipView.hpp"

#include <QHeaderView>

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
    setDefaultDropAction(Qt::CopyAction);
    setDragDropOverwriteMode(false);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    horizontalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->hide();
    setShowGrid(false);
}

void BrushTableView::startDrag(Qt::DropActions supportedActions) {
    clipView_->setMaxScrollingPerSecond(dragScrollingLimit);
    QTableView::startDrag(supportedActions);
    if (clipView_) {
        clipView_->setMaxScrollingPerSecond(std::nullopt);
    }
}

void BrushTableView::timerEvent(QTimerEvent* event) {
    if (state() == DraggingState && clipView_) {
        clipView_->throttleAutoscroll([&] { QTableView::timerEvent(event); });
    } else {
        QTableView::timerEvent(event);
    }
}

} // namespace velmora
