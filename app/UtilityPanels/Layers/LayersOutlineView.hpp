#pragma once

#include "Utils/ThrottledClipView.hpp"

#include <QPointer>
#include <QTreeView>
#include <functional>

namespace velmora {

// The layers outline: no header, one selected row, per-pixel scrolling.
// Each row's view is made when the row first comes into view. A row drag
// sets the clip view's speed limit for its length and tells the panel when
// it begins and ends; drops of the panel's layers move, others copy.
class LayersOutlineView : public QTreeView {
public:
    static constexpr double dragScrollingLimit = 300.0;

    explicit LayersOutlineView(QWidget* parent = nullptr);

    ThrottledClipView& clipView() const { return *clipView_; }

    // The view of a row, none for no view.
    std::function<QWidget*(const QModelIndex&)> viewForItem;
    std::function<void(const QModelIndex&)> draggingSessionWillBegin;
    std::function<void()> draggingSessionEnded;

    // Gives every row in the visible area its view.
    void makeVisibleRowViews();

protected:
    void paintEvent(QPaintEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void timerEvent(QTimerEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void chooseDropAction(QDropEvent* event) const;

    QPointer<ThrottledClipView> clipView_;
    QPoint pressedPosition_;
};

} // namespace velmora
