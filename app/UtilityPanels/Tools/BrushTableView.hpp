#pragma once

#include "Utils/ThrottledClipView.hpp"

#include <QPointer>
#include <QTableView>
#include <functional>

class QMimeData;

namespace velmora {

// The brush list's table: a row drag moves its row within the list; it sets
// the clip view's speed limit for its length, and the drag's autoscrolling
// goes through the clip view.
class BrushTableView : public QTableView {
public:
    static constexpr double dragScrollingLimit = 300.0;

    explicit BrushTableView(QWidget* parent = nullptr);

    ThrottledClipView& clipView() const { return *clipView_; }

    // Told what a row drag carries and the actions it offers, as it begins.
    std::function<void(const QMimeData&, Qt::DropActions)> draggingSessionWillBegin;

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void timerEvent(QTimerEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QPointer<ThrottledClipView> clipView_;
    QPoint pressedPosition_;
};

} // namespace velmora
